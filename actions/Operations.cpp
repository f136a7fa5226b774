#include "actions/Operations.h"

#include <exception>

#include "core/ControllerGrid.h"
#include "device/ChannelEvents.h"
#include "device/Connect.h"
#include "device/TextCommands.h"
#include "discovery/AddIp.h"
#include "discovery/Discovery.h"
#include "flash/HidBootloader.h"
#include "upgrade/RestoreDevice.h"
#include "upgrade/UpgradeProcedures.h"
#include "upgrade/UpgradeState.h"

namespace kv::ops {

namespace {

ConnectResult connectResult(Context& ctx) {
    ConnectResult result;
    SharedState& s = ctx.state;
    const auto* rows = s.selectedControllers();
    result.kind = s.ConnectionKind;
    result.rows = rows ? rows->size() : 0;
    result.identified =
        s.ConnectionKind != ConnectionKind::None && s.IdentReply != kUnknownDeviceReply;
    return result;
}

}  // namespace

void Start(Context& ctx, const StartFolders& folders) {
    ctx.state.DebugSwitch = "ON";
    ctx.state.AppDataFolder = LogFile::appDataFolder(folders.platformDataFolder);
    LogFile::OpenResult opened =
        ctx.log.open(ctx.state.AppDataFolder, folders.workingFolder, folders.logFileName);
    if (opened.message) ctx.message_box(*opened.message);
    if (opened.error) ctx.error_box(*opened.error);
    if (!opened.statusText.empty()) ctx.show_status(opened.statusText);
    if (ctx.detail()) {
        ctx.log_line("/**********************************************/");
        ctx.log_line("Timestamp:" + ctx.clock.localTimestamp());
        ctx.log_line("Korvandel Bootloader");
        ctx.log_line("/**********************************************/");
    }
    ctx.state.TpTransmitterMode = false;
    StateReset(ctx);
    RegisterChannelEvents(ctx);
    RegisterDiscoveryEvents(ctx);
    RegisterHidEvents(ctx);
    ctx.ui.enable(UiElement::Upgrade, false);
}

void Find(Context& ctx) {
    FindDevices(ctx);
}

void AddAddress(Context& ctx, const std::string& address, bool usePort, const std::string& port) {
    AddIP(ctx, address, usePort, port);
}

ConnectResult ConnectNetworkEntry(Context& ctx, int entry) {
    ctx.report_progress(ProgressPhase::Connecting);
    ConnectNetworkDevice(ctx, entry);
    return connectResult(ctx);
}

ConnectResult ConnectSerialEntry(Context& ctx, int entry) {
    ctx.report_progress(ProgressPhase::Connecting);
    ConnectSerialDevice(ctx, entry);
    return connectResult(ctx);
}

ConnectResult ConnectUsbEntry(Context& ctx, int row) {
    ctx.report_progress(ProgressPhase::Connecting);
    UsbDeviceChosen(ctx, row);
    return connectResult(ctx);
}

ConnectResult ConnectAs(Context& ctx, HandleAs as, int networkEntry, int comEntry) {
    ctx.report_progress(ProgressPhase::Connecting);
    ConnectHandledAs(ctx, as, networkEntry, comEntry);
    ConnectResult result = connectResult(ctx);
    result.identified = result.connected();  // taken as the type, not asked
    return result;
}

std::vector<RowView> ListRows(Context& ctx) {
    std::vector<RowView> rows;
    const auto* controllers = ctx.state.selectedControllers();
    const TMatrixRec* device = ctx.state.selectedDevice();
    if (!controllers || !device || ctx.state.ConnectionKind == ConnectionKind::None) return rows;
    for (std::size_t i = 0; i < controllers->size(); ++i) {
        const TControllerRec& c = (*controllers)[i];
        rows.push_back({static_cast<int>(i), c.ControllerType, c.HardwareVersion,
                        c.BootloaderVersion, c.FirmwareVersion, c.FirmwareFile, c.Selected,
                        c.CardAddress, FileKindForRow(c.ControllerType, device->MAC)});
    }
    return rows;
}

void ToggleRow(Context& ctx, int row) {
    ToggleRowSelected(ctx, row);
}

void PickFile(Context& ctx, int row) {
    PickRowFile(ctx, row);
}

FileChoice ChooseFile(Context& ctx, std::size_t row, const std::string& path) {
    FileChoice choice;
    const TMatrixRec* device = ctx.state.selectedDevice();
    auto* controllers = ctx.state.selectedControllers();
    if (!device || !controllers || ctx.state.ConnectionKind == ConnectionKind::None) {
        choice.refusal = FileRefusal::NoDevice;
        return choice;
    }
    if (row >= controllers->size()) {
        choice.refusal = FileRefusal::NoSuchRow;
        return choice;
    }
    choice.wanted = FileKindForRow((*controllers)[row].ControllerType, device->MAC);
    if (FileKindOfPath(path) != choice.wanted) {
        choice.refusal = FileRefusal::WrongKind;
        return choice;
    }
    SetRowFile(ctx, row, path);
    if (!(*controllers)[row].Selected) ToggleRowSelected(ctx, static_cast<int>(row));
    return choice;
}

void SetQuickBootload(Context& ctx, bool on) {
    ctx.quickBootloadChoice = on;
}

RunResult Upgrade(Context& ctx) {
    RunResult& result = upgradeState(ctx).lastRun;
    result = RunResult{};
    try {
        RunUpgrade(ctx);
    } catch (const std::exception& e) {
        // The application's general error display.
        result.escapedError = e.what();
        ctx.error_box(e.what());
    }
    ctx.progressRow = -1;
    return result;
}

bool Restore(Context& ctx) {
    ctx.report_progress(ProgressPhase::Restoring);
    return RestoreOnClose(ctx);
}

bool Close(Context& ctx) {
    return CloseProgram(ctx);
}

}  // namespace kv::ops
