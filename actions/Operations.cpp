#include "actions/Operations.h"

#include <exception>

#include "core/ControllerGrid.h"
#include "device/ChannelEvents.h"
#include "device/Connect.h"
#include "device/ConnectSteps.h"
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

// How a device was left, in the operator's words.
std::string LeftText(const JournalEntry& entry) {
    struct Phrase {
        DeviceChange change;
        const char* text;
    };
    static constexpr Phrase kPhrases[] = {
        {DeviceChange::BootloaderMode, "in bootloader mode"},
        {DeviceChange::UsbBootloader, "in its USB bootloader"},
        {DeviceChange::CpuBootloader, "with its CPU in its bootloader"},
        {DeviceChange::ShiftRegister, "with a card or its CPU latched by the shift register"},
        {DeviceChange::SelectLines, "with a card on the select lines"},
        {DeviceChange::SerialSetup, "with its module's serial channel changed"},
    };
    std::vector<std::string> parts;
    for (const Phrase& phrase : kPhrases)
        if (entry.has(phrase.change)) parts.emplace_back(phrase.text);
    if (parts.empty()) return "with its firmware being written";
    std::string text = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i)
        text += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

std::string StoppedText(const JournalEntry& entry) {
    std::string text = "a run stopped at " + FormatTime(entry.stoppedAt, "%H:%M", TimeZone::Local);
    if (!entry.rowType.empty()) text += " while programming " + entry.rowType;
    return text;
}

// The firmware of the interrupted row may be half written.
std::string IncompleteText(const JournalEntry& entry) {
    if (entry.rowType.empty() ||
        !(entry.has(DeviceChange::Erase) || entry.has(DeviceChange::Upload))) {
        return {};
    }
    return "; the firmware of " + entry.rowType + " may be incomplete: upgrade it again";
}

// The key of the device behind a list entry, as the journal knows it; invalid when the
// entry names none.
DeviceKey NetworkEntryKey(Context& ctx, int entry) {
    try {
        const auto index = connect::networkDeviceIndex(ctx, entry);
        if (!index) return {};
        const TMatrixRec& device = ctx.state.DeviceList[*index];
        return {ConnectionKind::Network, device.IP, device.MAC};
    } catch (const std::exception&) {
        return {};
    }
}

DeviceKey SerialEntryKey(Context& ctx, int entry) {
    try {
        return {ConnectionKind::Serial, connect::comPortName(ctx, entry), {}};
    } catch (const std::exception&) {
        return {};
    }
}

DeviceKey UsbRowKey(Context& ctx, int row) {
    const auto& rows = ctx.state.usbRows;
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return {};
    return {ConnectionKind::Usb, rows[static_cast<std::size_t>(row)].serial, {}};
}

void LogJournalWarning(Context& ctx) {
    if (!ctx.journal) return;
    if (const std::string warning = ctx.journal->takeWarning(); !warning.empty())
        ctx.log_line(warning);
}

// Recovery before a connect: false when the device did not answer and the operator chose
// not to go on.
bool RecoverBeforeConnect(Context& ctx, const DeviceKey& key, ConnectResult& result) {
    if (!ctx.journal || !key.valid()) return true;
    // The device open now stays as it is; its own restore closes its entry.
    if (ctx.journalKey().sameDevice(key)) return true;
    std::optional<JournalEntry> entry = OpenEntryOf(*ctx.journal, key);
    LogJournalWarning(ctx);
    if (!entry) return true;
    result.recovery = Recover(ctx, *entry);
    if (result.recovery->restored) return true;
    return AskUnreachable(ctx) == MsgButton::Yes;
}

}  // namespace

Recovery Recover(Context& ctx, const JournalEntry& entry) {
    Recovery recovery;
    recovery.entry = entry;
    ctx.report_progress(ProgressPhase::Restoring);
    ctx.showBusy("Restoring " + entry.device.id + " ...");
    const std::string head =
        "Restoring " + entry.device.id + ": " + StoppedText(entry) + " left it " + LeftText(entry);
    ctx.log_and_show(head + IncompleteText(entry));
    recovery.restored = RestoreRecordedChanges(ctx, entry);
    ctx.hideBusy();
    if (recovery.restored) {
        if (ctx.journal) ctx.journal->restored(entry.device);
        recovery.message = head + "; it is back in normal operation" + IncompleteText(entry);
    } else {
        recovery.message = "Restoring " + entry.device.id +
                           " failed: the device does not answer; its journal entry stays open";
        ctx.log_and_show(recovery.message);
    }
    return recovery;
}

std::vector<JournalEntry> OpenJournalEntries(Context& ctx) {
    if (!ctx.journal) return {};
    std::vector<JournalEntry> entries = ctx.journal->openEntries();
    LogJournalWarning(ctx);
    return entries;
}

std::string OpenEntryText(const JournalEntry& entry) {
    return "The run journal has an open entry for " + entry.device.id + ": " + StoppedText(entry) +
           " left it " + LeftText(entry) + "; it is restored at the next connect";
}

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
    // Only told: another machine may be upgrading a listed device by now.
    for (const JournalEntry& entry : OpenJournalEntries(ctx)) {
        if (!ctx.journalKey().sameDevice(entry.device)) ctx.log_and_show(OpenEntryText(entry));
    }
}

void AddAddress(Context& ctx, const std::string& address, bool usePort, const std::string& port) {
    AddIP(ctx, address, usePort, port);
}

namespace {

// A connect with the journal's recovery in front of it.
template <typename Connect>
ConnectResult ConnectRecovered(Context& ctx, const DeviceKey& key, Connect connect) {
    ConnectResult recovered;
    const bool go = RecoverBeforeConnect(ctx, key, recovered);
    ctx.report_progress(ProgressPhase::Connecting);
    if (go) connect();
    ConnectResult result = connectResult(ctx);
    result.recovery = std::move(recovered.recovery);
    return result;
}

}  // namespace

ConnectResult ConnectNetworkEntry(Context& ctx, int entry) {
    return ConnectRecovered(ctx, NetworkEntryKey(ctx, entry),
                            [&] { ConnectNetworkDevice(ctx, entry); });
}

ConnectResult ConnectSerialEntry(Context& ctx, int entry) {
    return ConnectRecovered(ctx, SerialEntryKey(ctx, entry),
                            [&] { ConnectSerialDevice(ctx, entry); });
}

ConnectResult ConnectUsbEntry(Context& ctx, int row) {
    return ConnectRecovered(ctx, UsbRowKey(ctx, row), [&] { UsbDeviceChosen(ctx, row); });
}

ConnectResult ConnectAs(Context& ctx, HandleAs as, int networkEntry, int comEntry) {
    const DeviceKey key =
        Describe(as).network ? NetworkEntryKey(ctx, networkEntry) : SerialEntryKey(ctx, comEntry);
    ConnectResult result =
        ConnectRecovered(ctx, key, [&] { ConnectHandledAs(ctx, as, networkEntry, comEntry); });
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
