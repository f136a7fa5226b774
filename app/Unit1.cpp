#include "Unit1.h"

#include "ControllerGrid.h"
#include "device/ChannelEvents.h"
#include "discovery/AddIp.h"
#include "discovery/Discovery.h"
#include "flash/HidBootloader.h"
#include "upgrade/RestoreDevice.h"
#include "upgrade/UpgradeProcedures.h"

namespace kv::Unit1 {

namespace {

// Operator actions whose procedures are not part of this build yet: the log says so.
void notAvailable(Context& ctx, const std::string& action) {
    ctx.log_line(action + ": not available in this build");
}

}  // namespace

void FormCreate(Context& ctx, const StartFolders& folders) {
    ctx.state.DebugSwitch = "ON";
    ctx.state.AppDataFolder = LogFile::appDataFolder(folders.platformDataFolder);
    LogFile::OpenResult opened = ctx.log.open(ctx.state.AppDataFolder, folders.workingFolder);
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

void Panel2Click(Context& ctx) { FindDevices(ctx); }

void Image9Click(Context& ctx) { RunUpgrade(ctx); }

void TreeView1DblClick(Context& ctx, int /*index*/) { notAvailable(ctx, "Network connect"); }

void TreeView2DblClick(Context& ctx, int /*index*/) { notAvailable(ctx, "COM port connect"); }

void PopupMenu1Click(Context& ctx, HandleAs entry, int /*networkIndex*/, int /*comIndex*/) {
    if (entry == HandleAs::Cancel) return;
    notAvailable(ctx, "Handle as");
}

void USBViewDblClick(Context& ctx, int row) { kv::USBViewDblClick(ctx, row); }

void AddIPButton1Click(Context& ctx, const std::string& address, bool usePort,
                       const std::string& port) {
    AddIP(ctx, address, usePort, port);
}

bool FormCloseQuery(Context& ctx) { return kv::FormCloseQuery(ctx); }

}  // namespace kv::Unit1
