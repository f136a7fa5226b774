#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace kv::gui {

// The program's pictures, drawn at run time so the program carries no image files.

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
