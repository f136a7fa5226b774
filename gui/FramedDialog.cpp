#include "gui/FramedDialog.h"

#include <QGuiApplication>
#include <QScreen>

namespace kv::gui {

void centreOnScreen(QWidget* window) {
    QScreen* screen = window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // Placed by its client area; the window system's frame, if any, goes around it.
    window->setGeometry(
        QRect(area.center() - QPoint(window->width() / 2, window->height() / 2), window->size()));
}

FramedDialog::FramedDialog(int width, int height, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(width, height);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    panel_ = new QWidget(this);
    panel_->setObjectName(QStringLiteral("Panel"));
    panel_->setGeometry(kFrameWidth, kFrameWidth, width - 2 * kFrameWidth,
                        height - 2 * kFrameWidth);
    QPalette white = panel_->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    panel_->setPalette(white);
    panel_->setAutoFillBackground(true);
}

void FramedDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    centreOnScreen(this);
}

}  // namespace kv::gui
