#include "EventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace kv {

void EnsureEventDispatcher() {
    // Constructing an event loop creates the calling thread's dispatcher; it stays.
    if (!QThread::currentThread()->eventDispatcher() && QCoreApplication::instance()) {
        QEventLoop loop;
    }
}

void PumpEvents() {
    if (QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher()) {
        dispatcher->processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

}  // namespace kv
