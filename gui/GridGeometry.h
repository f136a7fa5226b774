#pragma once

#include <QPoint>
#include <QRect>
#include <array>

namespace kv::gui {

// Places of the three widgets of the controller grid: the check column (StringGrid1),
// the header row (StringGrid3) and the controller rows (StringGrid2).
struct ControllerGridGeometry {
    QRect checkColumn;
    QRect header;
    QRect rows;
};

inline constexpr int kGridRowHeight = 24;
inline constexpr std::array<int, 5> kGridColumnWidths{135, 135, 135, 135, 235};
inline constexpr int kCheckColumnWidth = 24;
// Each grid has a one-pixel frame.
inline constexpr int kGridFrame = 1;
// Top-left corner of the whole grid group in the main window.
inline constexpr QPoint kGridOrigin{5, 526};

// Height of the check column and of the controller rows for `rows` rows:
// row height x (rows + 1) + rows.
int controllerGridHeight(int rows);

// The header sits directly above the controller rows, overlapping them by one pixel;
// the controller rows start one pixel left of the check column's right edge.
ControllerGridGeometry layoutControllerGrid(int rows);

}  // namespace kv::gui
