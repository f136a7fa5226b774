#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/Context.h"
#include "core/FileKinds.h"
#include "core/RunResult.h"
#include "device/HandleAs.h"

// What an operator (or a script) does with the program, as operations with typed
// results. The window's handlers and kvboot both call these on the engine thread; neither
// imitates the other's clicks nor reads display texts to learn what happened.
namespace kv::ops {

struct StartFolders {
    std::string platformDataFolder;  // per-user application data folder of the platform
    std::string workingFolder;       // where the fallback log goes
    std::string logFileName = LogFile::kFileName;  // the log's name in its folder
};

// Once at start: the detail switch, the log file and its banner, the state reset and the
// event sources (channels, discovery, HID).
void Start(Context& ctx, const StartFolders& folders);

// FIND: releases a connected network device, lists the modules, COM ports and USB devices;
// names the devices the journal has open entries for, without touching them.
void Find(Context& ctx);
// An address typed in (Add IP): asks that module alone; usePort takes `port` as its
// tunnel port instead of asking for it.
void AddAddress(Context& ctx, const std::string& address, bool usePort, const std::string& port);

// What the journal's recovery did with a device a run left switched over.
struct Recovery {
    JournalEntry entry;     // what the run that died had changed
    bool restored = false;  // the device answered and was brought back; the entry is closed
    std::string message;    // the line the log, the memo and kvboot show
};
// Restores the device of an open journal entry with the steps the end of a run takes,
// logs what it did and closes the entry when the device answered. Never asks.
Recovery Recover(Context& ctx, const JournalEntry& entry);
// The journal's open entries no running program holds (none without a journal).
std::vector<JournalEntry> OpenJournalEntries(Context& ctx);
// The line that tells of an open entry without touching its device (FIND, discover).
std::string OpenEntryText(const JournalEntry& entry);

struct ConnectResult {
    ConnectionKind kind = ConnectionKind::None;  // None: no device was opened
    bool identified = false;  // it answered its identification (or was taken as a type)
    std::size_t rows = 0;     // controller rows listed
    // The device had an open journal entry: its recovery ran first.
    std::optional<Recovery> recovery;
    bool connected() const { return kind != ConnectionKind::None && rows > 0; }
};
// Connects to an entry of the network list, the COM port list or the USB list (-1 for
// none) and lists its controller rows. A device the journal has an open entry for is
// recovered first; when it does not answer, the unreachable question decides whether
// the connect goes on.
ConnectResult ConnectNetworkEntry(Context& ctx, int entry);
ConnectResult ConnectSerialEntry(Context& ctx, int entry);
ConnectResult ConnectUsbEntry(Context& ctx, int row);
// Connects to the selected entry of the list the choice belongs to, as that type.
ConnectResult ConnectAs(Context& ctx, HandleAs as, int networkEntry, int comEntry);

struct RowView {
    int row = 0;  // row of the controller grid
    std::string type;
    std::string hardware;
    std::string bootloader;
    std::string firmware;
    std::string file;  // chosen file, empty for none
    bool selected = false;
    int cardAddress = 0;
    FileKind takes = FileKind::IntelHex;  // the kind of file the row takes
};
// The connected device's controller rows (none when no device is connected).
std::vector<RowView> ListRows(Context& ctx);

// Ticks or unticks a row; the window's check column.
void ToggleRow(Context& ctx, int row);
// Asks whether to modify the row's path, then the open-file dialog (the window's file cell).
void PickFile(Context& ctx, int row);

enum class FileRefusal { None, NoDevice, NoSuchRow, WrongKind };
struct FileChoice {
    FileRefusal refusal = FileRefusal::None;
    FileKind wanted = FileKind::IntelHex;  // what the row takes (WrongKind)
    bool ok() const { return refusal == FileRefusal::None; }
};
// Chooses `path` for a row without asking and ticks the row; refused when no device is
// connected, the row does not exist, or the row takes another kind of file.
FileChoice ChooseFile(Context& ctx, std::size_t row, const std::string& path);

// Quick Bootload (checksum verification only) for the coming runs; without it the
// window's check box decides.
void SetQuickBootload(Context& ctx, bool on);

// UPGRADE: the procedure the connected device needs; what it did, row by row. An error
// that escaped the procedure is shown by the general error display and kept in the
// result's `escapedError`.
RunResult Upgrade(Context& ctx);

// Returns a connected device to normal operation and closes the connections, without
// asking to exit. False when the device does not answer and the operator kept it as it is.
bool Restore(Context& ctx);
// The window's close: asks "Do you really want to exit?", restores, closes the log. True
// when the program may end.
bool Close(Context& ctx);

}  // namespace kv::ops
