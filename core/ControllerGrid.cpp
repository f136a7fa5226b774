#include "core/ControllerGrid.h"

#include "core/FileKinds.h"

namespace kv {

void ClearDeviceProperties(Context& ctx) {
    ctx.state.properties = DeviceProperties{};
    ctx.showDeviceProperties();
}

void GridLayout(Context& ctx) {
    ctx.showControllerGrid();
    ctx.ui.enable(UiElement::Grids, false);
}

void GridReset(Context& ctx) {
    ctx.state.gridCells.assign(1, {});
    GridLayout(ctx);
}

void StateReset(Context& ctx) {
    SharedState& s = ctx.state;
    s.CurrentIP = "0.0.0.0";
    ClearDeviceProperties(ctx);
    s.HexControllerType.clear();
    s.HexHardwareInfo.clear();
    for (int i = 0; i < 6; ++i)
        s.CardAddresses[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
    GridLayout(ctx);
    s.CardQueryCount = 6;
}

std::string FirmwareFileFilter(const std::string& controllerType, const std::string& mac) {
    return FileDialogFilter(FileKindForRow(controllerType, mac));
}

void StringGrid1MouseUp(Context& ctx, int row) {
    auto* controllers = ctx.state.selectedControllers();
    if (!controllers || row < 0 || static_cast<std::size_t>(row) >= controllers->size()) return;
    TControllerRec& c = (*controllers)[static_cast<std::size_t>(row)];
    c.Selected = !c.Selected;
    ctx.showControllerGrid();
}

void StringGrid2MouseUp(Context& ctx, int column, int row) {
    if (column != 4) return;
    auto* controllers = ctx.state.selectedControllers();
    if (!controllers || row < 0 || static_cast<std::size_t>(row) >= controllers->size()) return;
    TControllerRec& c = (*controllers)[static_cast<std::size_t>(row)];
    std::string filter = FirmwareFileFilter(c.ControllerType, ctx.state.selectedDevice()->MAC);
    // The one confirmation whose default is Yes.
    if (ctx.ask("Do you really want to modify the path?", DialogKind::Confirmation,
                {MsgButton::Yes, MsgButton::Cancel},
                static_cast<int>(MsgButton::Yes)) != MsgButton::Yes) {
        return;
    }
    std::optional<std::string> file = ctx.ui.openFile(filter);
    if (!file || file->empty()) return;
    c.FirmwareFile = *file;
    auto& cells = ctx.state.gridCells;
    if (cells.size() <= static_cast<std::size_t>(row))
        cells.resize(static_cast<std::size_t>(row) + 1);
    auto slash = file->find_last_of("/\\");
    cells[static_cast<std::size_t>(row)][4] =
        slash == std::string::npos ? *file : file->substr(slash + 1);
    ctx.showControllerGrid();
}

}  // namespace kv
