#include "gui/GridGeometry.h"

#include <numeric>

namespace kv::gui {

int controllerGridHeight(int rows) {
    return kGridRowHeight * (rows + 1) + rows;
}

ControllerGridGeometry layoutControllerGrid(int rows) {
    const int columnsWidth =
        std::accumulate(kGridColumnWidths.begin(), kGridColumnWidths.end(), 0) + 2 * kGridFrame;
    const int checkWidth = kCheckColumnWidth + 2 * kGridFrame;
    const int headerHeight = kGridRowHeight + 2 * kGridFrame;
    const int height = controllerGridHeight(rows);

    ControllerGridGeometry g;
    const int rowsLeft = kGridOrigin.x() + checkWidth - 1;
    g.header = QRect(rowsLeft, kGridOrigin.y(), columnsWidth, headerHeight);
    const int rowsTop = g.header.bottom();
    g.rows = QRect(rowsLeft, rowsTop, columnsWidth, height);
    g.checkColumn = QRect(kGridOrigin.x(), rowsTop, checkWidth, height);
    return g;
}

}  // namespace kv::gui
