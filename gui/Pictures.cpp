#include "gui/Pictures.h"

#include <QPainter>
#include <QPainterPath>

namespace kv::gui {

namespace {

const QColor kAccent(230, 126, 34);
const QColor kIconColor(236, 240, 241);

QPixmap transparentPixmap(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawNetwork(QPainter& p) {
    p.drawRect(9, 2, 7, 6);
    p.drawRect(1, 17, 7, 6);
    p.drawRect(17, 17, 7, 6);
    p.drawLine(12, 8, 12, 13);
    p.drawLine(4, 13, 21, 13);
    p.drawLine(4, 13, 4, 17);
    p.drawLine(21, 13, 21, 17);
}

void drawSerialPort(QPainter& p) {
    QPainterPath shell;
    shell.moveTo(2, 7);
    shell.lineTo(23, 7);
    shell.lineTo(20, 18);
    shell.lineTo(5, 18);
    shell.closeSubpath();
    p.drawPath(shell);
    for (int i = 0; i < 5; ++i) p.drawPoint(6 + i * 3, 11);
    for (int i = 0; i < 4; ++i) p.drawPoint(8 + i * 3, 14);
}

void drawUsb(QPainter& p) {
    p.drawLine(12, 3, 12, 22);
    p.drawLine(12, 3, 9, 7);
    p.drawLine(12, 3, 15, 7);
    p.drawLine(12, 15, 5, 11);
    p.drawLine(12, 13, 19, 9);
    p.drawEllipse(QPoint(5, 10), 2, 2);
    p.drawRect(18, 6, 3, 3);
    p.drawEllipse(QPoint(12, 21), 2, 2);
}

void drawCard(QPainter& p) {
    p.drawRect(2, 4, 21, 14);
    p.drawRect(5, 7, 6, 5);
    p.drawLine(14, 8, 20, 8);
    p.drawLine(14, 11, 20, 11);
    for (int i = 0; i < 5; ++i) p.drawLine(5 + i * 4, 18, 5 + i * 4, 22);
}

void drawProcessor(QPainter& p) {
    p.drawRect(6, 6, 13, 13);
    p.drawRect(10, 10, 5, 5);
    for (int i = 0; i < 3; ++i) {
        const int at = 8 + i * 4;
        p.drawLine(at, 2, at, 6);
        p.drawLine(at, 19, at, 23);
        p.drawLine(2, at, 6, at);
        p.drawLine(19, at, 23, at);
    }
}

void drawFile(QPainter& p) {
    QPainterPath sheet;
    sheet.moveTo(5, 2);
    sheet.lineTo(15, 2);
    sheet.lineTo(20, 7);
    sheet.lineTo(20, 23);
    sheet.lineTo(5, 23);
    sheet.closeSubpath();
    p.drawPath(sheet);
    p.drawLine(15, 2, 15, 7);
    p.drawLine(15, 7, 20, 7);
    for (int i = 0; i < 3; ++i) p.drawLine(8, 12 + i * 3, 17, 12 + i * 3);
}

void drawReport(QPainter& p) {
    p.drawRect(4, 3, 17, 20);
    p.drawLine(8, 13, 11, 17);
    p.drawLine(11, 17, 18, 8);
}

}  // namespace

LogoShape logoShape(QSizeF size) {
    LogoShape shape;
    const int side = std::min(int(size.width()), int(size.height())) - 16;
    shape.ring = QRectF((size.width() - side) / 2.0, (size.height() - side) / 2.0, side, side);
    shape.ringColor = kAccent;
    // A "K" cut from three strokes.
    const QPointF c = shape.ring.center();
    const double h = side * 0.28;
    shape.strokes = {
        QLineF(QPointF(c.x() - h * 0.6, c.y() - h), QPointF(c.x() - h * 0.6, c.y() + h)),
        QLineF(QPointF(c.x() - h * 0.45, c.y()), QPointF(c.x() + h * 0.7, c.y() - h)),
        QLineF(QPointF(c.x() - h * 0.2, c.y() - h * 0.2), QPointF(c.x() + h * 0.7, c.y() + h))};
    return shape;
}

void paintLogo(QPainter& p, QSizeF size) {
    const LogoShape shape = logoShape(size);
    p.fillRect(QRectF(QPointF(0, 0), size), Qt::black);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(shape.ringColor, shape.ringWidth));
    p.drawEllipse(shape.ring);
    p.setPen(QPen(Qt::white, shape.strokeWidth, Qt::SolidLine, Qt::SquareCap));
    for (const QLineF& stroke : shape.strokes) p.drawLine(stroke);
}

QPixmap logoPicture(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::black);
    QPainter p(&pixmap);
    paintLogo(p, QSizeF(size));
    return pixmap;
}

QPixmap titleIcon(int index) {
    QPixmap pixmap = transparentPixmap(QSize(25, 25));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kIconColor, 1.6));
    switch (index) {
        case 0:
            drawNetwork(p);
            break;
        case 1:
            drawSerialPort(p);
            break;
        case 2:
            drawUsb(p);
            break;
        case 3:
            drawCard(p);
            break;
        case 4:
            drawProcessor(p);
            break;
        case 5:
            drawFile(p);
            break;
        default:
            drawReport(p);
            break;
    }
    return pixmap;
}

QPixmap upgradePicture(QSize size) {
    QPixmap pixmap = transparentPixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = size.width();
    const double h = size.height();
    QPainterPath arrow;
    arrow.moveTo(w / 2, 0);
    arrow.lineTo(w, h * 0.5);
    arrow.lineTo(w * 0.68, h * 0.5);
    arrow.lineTo(w * 0.68, h);
    arrow.lineTo(w * 0.32, h);
    arrow.lineTo(w * 0.32, h * 0.5);
    arrow.lineTo(0, h * 0.5);
    arrow.closeSubpath();
    p.fillPath(arrow, kAccent);
    return pixmap;
}

QIcon applicationIcon() {
    return QIcon(logoPicture(QSize(64, 64)));
}

}  // namespace kv::gui
