#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace kv::gui::test {

// Runs `act` on the next modal window as soon as it is open (the code under test is
// then inside its exec()). Gives up after `timeoutMs`. Whatever modal window is still
// open `closeAfterMs` after `act` is closed with a warning, so a test whose action did
// not end the dialog fails instead of hanging.
inline void onNextModal(std::function<void(QWidget*)> act, int timeoutMs = 5000,
                        int closeAfterMs = 5000) {
    auto* poll = new QTimer(qApp);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, poll,
                     [poll, deadline, closeAfterMs, act = std::move(act)] {
                         QWidget* modal = QApplication::activeModalWidget();
                         if (!modal && !deadline.hasExpired()) return;
                         poll->stop();
                         poll->deleteLater();
                         if (!modal) return;
                         QPointer<QWidget> opened(modal);
                         act(modal);
                         QTimer::singleShot(closeAfterMs, qApp, [opened] {
                             while (QWidget* left = QApplication::activeModalWidget()) {
                                 qWarning("closing a modal window the test left open: %s",
                                          left->metaObject()->className());
                                 left->close();
                                 if (left == opened) break;
                             }
                         });
                     });
    poll->start(10);
}

inline QColor windowColor(const QWidget* widget) {
    return widget->palette().color(QPalette::Window);
}

}  // namespace kv::gui::test
