#pragma once

#include <string>

#include "core/Context.h"

namespace kv {

// Unit1: the main window's logic. Each handler is one operator action (or the window's
// creation / close query) and runs on the engine thread.
namespace Unit1 {

struct StartFolders {
    std::string platformDataFolder;  // per-user application data folder of the platform
    std::string workingFolder;       // where the fallback log goes
    std::string logFileName = LogFile::kFileName;  // the log's name in its folder
};

// Main window creation: detail switch, log file and banner, state reset.
void FormCreate(Context& ctx, const StartFolders& folders);

// Entries of the Handle-as pop-up menu (PopupMenu1), in menu order.
enum class HandleAs {
    RvCtl2,        // "Handle as RV-CTL2" (network list)
    HqlxFbr,       // "Handle as HQLX-FBR" (COM list)
    NrvFkTwSn500,  // "Handle as NRV-FK-TW-SN500" (COM list)
    NrvTwSn500s,   // "Handle as NRV-TW-SN500S" (COM list)
    Rv6x6Max,      // "Handle as RV6x6-2WQRI-Max" (network list)
    Nrv5x5,        // "Handle as NRV5x5" (network list)
    LnkFbrRc330,   // "Handle as LNK-FBR-RC-330" (COM list)
    Cancel,
};

void Panel2Click(Context& ctx);  // FIND
void Image9Click(Context& ctx);  // UPGRADE
// Double clicks; index is the selected root entry of the list, -1 for none.
void TreeView1DblClick(Context& ctx, int index);
void TreeView2DblClick(Context& ctx, int index);
void PopupMenu1Click(Context& ctx, HandleAs entry, int networkIndex, int comIndex);
void USBViewDblClick(Context& ctx, int row);
// "Add" of the Add IP window (the window itself ignores an empty address).
void AddIPButton1Click(Context& ctx, const std::string& address, bool usePort,
                       const std::string& port);
// Close query: true when the window may close.
bool FormCloseQuery(Context& ctx);

}  // namespace Unit1
}  // namespace kv
