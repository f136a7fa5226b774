#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace kv::gui::test {

// Runs `act` on the next modal window as soon as it is open (the code under test is
// then inside its exec()). Gives up after `timeoutMs`.
inline void onNextModal(std::function<void(QWidget*)> act, int timeoutMs = 5000) {
    auto* poll = new QTimer(qApp);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, deadline, act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && !deadline.hasExpired()) return;
        poll->stop();
        poll->deleteLater();
        if (modal) act(modal);
    });
    poll->start(10);
}

inline QColor windowColor(const QWidget* widget) {
    return widget->palette().color(QPalette::Window);
}

}  // namespace kv::gui::test
