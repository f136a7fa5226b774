#include "actions/OperatorActions.h"

#include "core/ControllerGrid.h"
#include "device/ChannelEvents.h"
#include "device/Connect.h"
#include "discovery/AddIp.h"
#include "discovery/Discovery.h"
#include "flash/HidBootloader.h"
#include "upgrade/RestoreDevice.h"
#include "upgrade/UpgradeProcedures.h"

namespace kv::Unit1 {

void FormCreate(Context& ctx, const StartFolders& folders) {
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

void Panel2Click(Context& ctx) {
    FindDevices(ctx);
}

void Image9Click(Context& ctx) {
    RunUpgrade(ctx);
}

void TreeView1DblClick(Context& ctx, int index) {
    ConnectNetworkDevice(ctx, index);
}

void TreeView2DblClick(Context& ctx, int index) {
    ConnectSerialDevice(ctx, index);
}

void PopupMenu1Click(Context& ctx, HandleAs entry, int networkIndex, int comIndex) {
    // Both enums list the menu's entries in menu order.
    PopupMenu1Entry(ctx, static_cast<HandleAsEntry>(static_cast<int>(entry)), networkIndex,
                    comIndex);
}

void USBViewDblClick(Context& ctx, int row) {
    kv::USBViewDblClick(ctx, row);
}

void AddIPButton1Click(Context& ctx, const std::string& address, bool usePort,
                       const std::string& port) {
    AddIP(ctx, address, usePort, port);
}

bool FormCloseQuery(Context& ctx) {
    return kv::FormCloseQuery(ctx);
}

}  // namespace kv::Unit1
