#include "device/InventoryRows.h"

#include "core/ControllerGrid.h"
#include "core/ports/ChannelError.h"

namespace kv {

TMatrixRec& InventoryRows::device() {
    TMatrixRec* d = ctx_.state.selectedDevice();
    if (!d) throw KvError("No device is selected in the device list");
    return *d;
}

void InventoryRows::reset() {
    TMatrixRec& d = device();
    GridReset(ctx_);
    d.Controllers.clear();
}

std::size_t InventoryRows::count() {
    return device().Controllers.size();
}

void InventoryRows::append(TControllerRec rec, const std::optional<std::string>& typeCell) {
    auto& list = device().Controllers;
    rec.Selected = false;
    rec.FirmwareFile.clear();
    list.push_back(rec);
    const std::size_t row = list.size() - 1;
    ctx_.state.gridCells.resize(row + 1);
    ctx_.state.setGridRow(row, rec);
    if (typeCell) ctx_.state.gridCells[row][0] = *typeCell;
    GridLayout(ctx_);
    ctx_.log_line("Controller type: " + rec.ControllerType + "  HW: " + rec.HardwareVersion +
                  "  Bootloader: " + rec.BootloaderVersion + "  FW: " + rec.FirmwareVersion);
}

}  // namespace kv
