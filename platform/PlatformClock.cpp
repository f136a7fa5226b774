#include "PlatformClock.h"

#include <QDateTime>
#include <QLocale>

namespace kv {

std::string PlatformClock::localTimestamp() {
    QDateTime now = QDateTime::currentDateTime();
    QLocale locale = QLocale::system();
    return (locale.toString(now.date(), QLocale::ShortFormat) + " " +
            locale.toString(now.time(), QLocale::LongFormat))
        .toStdString();
}

}  // namespace kv
