#pragma once

#include <array>

#include <QColor>
#include <QIcon>
#include <QLineF>
#include <QPainter>
#include <QPixmap>
#include <QRectF>
#include <QSize>

namespace kv::gui {

// The program's pictures, drawn at run time so the program carries no image files.

// The maker's logo: an accent ring round a "K" of three white strokes on black. The
// shapes are kept apart from the painting so the installed icons (PNG and SVG) are drawn
// from the same figures as the logo box.
struct LogoShape {
    QRectF ring;
    qreal ringWidth = 4;
    QColor ringColor;
    std::array<QLineF, 3> strokes;
    qreal strokeWidth = 6;
};
// The logo's shapes in a box of `size` pixels.
LogoShape logoShape(QSizeF size);
// Paints the logo (black box included) in a box of `size` pixels at the painter's origin.
void paintLogo(QPainter& p, QSizeF size);
// The maker's logo for the black logo box.
QPixmap logoPicture(QSize size);
// Number of icons in the title band.
inline constexpr int kTitleIconCount = 7;
// Title band icon `index` (0 to kTitleIconCount - 1), 25 x 25: network, serial port,
// USB, card, processor, firmware file, upgrade report.
QPixmap titleIcon(int index);
// The arrow of the UPGRADE button.
QPixmap upgradePicture(QSize size);
// Window icon shown by the task bar.
QIcon applicationIcon();

}  // namespace kv::gui
