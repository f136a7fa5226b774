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

void ToggleRowSelected(Context& ctx, int row) {
    auto* controllers = ctx.state.selectedControllers();
    if (!controllers || row < 0 || static_cast<std::size_t>(row) >= controllers->size()) return;
    TControllerRec& c = (*controllers)[static_cast<std::size_t>(row)];
    c.Selected = !c.Selected;
    ctx.showControllerGrid();
}

void PickRowFile(Context& ctx, int row) {
    auto* controllers = ctx.state.selectedControllers();
    if (!controllers || row < 0 || static_cast<std::size_t>(row) >= controllers->size()) return;
    const TControllerRec& c = (*controllers)[static_cast<std::size_t>(row)];
    std::string filter = FirmwareFileFilter(c.ControllerType, ctx.state.selectedDevice()->MAC);
    // The one confirmation whose default is Yes.
    if (ctx.ask(QuestionId::ModifyPath, "Do you really want to modify the path?",
                DialogKind::Confirmation, {MsgButton::Yes, MsgButton::Cancel},
                static_cast<int>(MsgButton::Yes)) != MsgButton::Yes) {
        return;
    }
    std::optional<std::string> file = ctx.ui.openFile(filter);
    if (!file || file->empty()) return;
    SetRowFile(ctx, static_cast<std::size_t>(row), *file);
}

void SetRowFile(Context& ctx, std::size_t row, const std::string& path) {
    auto* controllers = ctx.state.selectedControllers();
    if (!controllers || row >= controllers->size()) return;
    (*controllers)[row].FirmwareFile = path;
    auto& cells = ctx.state.gridCells;
    if (cells.size() <= row) cells.resize(row + 1);
    auto slash = path.find_last_of("/\\");
    cells[row][4] = slash == std::string::npos ? path : path.substr(slash + 1);
    ctx.showControllerGrid();
}

}  // namespace kv
