#include "UpgradeProcedures.h"
#include "UpgradeReport.h"
#include "UpgradeRows.h"
#include "UpgradeState.h"
#include "UpgradeWaits.h"
#include "core/ControllerGrid.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "firmware/HexFile.h"
#include "flash/StmLink.h"
#include "flash/StmProgram.h"

namespace kv {

namespace {

constexpr auto kReopenSettle = std::chrono::milliseconds(300);
constexpr std::uint8_t kStmSync = 0x7F;
constexpr std::uint8_t kStmAck = 0x79;
constexpr std::size_t kSyncBytesExamined = 6;
const char* const kNoBootloader = "There is no response from the bootloader.";

// The chip answers the synchronisation byte with an ACK, possibly after line noise read
// as zero bytes.
bool SyncAcknowledged(const SharedState& s) {
    ByteView rx = s.rxBytes();
    for (std::size_t i = 0; i < kSyncBytesExamined && i < rx.size(); ++i) {
        if (rx[i] == 0x00) continue;
        return rx[i] == kStmAck;
    }
    return false;
}

}  // namespace

void UpgradeSerialDevice(Context& ctx) {
    RunResult& result = upgradeState(ctx).lastRun;
    result = RunResult{};
    SharedState& s = ctx.state;
    s.HexFileOpened = false;
    TMatrixRec* device = s.selectedDevice();
    if (!device || device->Controllers.empty() || !device->Controllers.front().Selected) {
        EndWithoutRun(ctx, result, RunEnd::NothingSelected, kNoControllerSelected);
        return;
    }
    const TControllerRec row = device->Controllers.front();
    if (!ConfirmUpgrade(ctx)) {
        result.end = RunEnd::Declined;
        return;
    }
    HexReaderState& reader = upgradeState(ctx).hex;
    const FileStamp stamp = StampOf(row.FirmwareFile);
    std::string errors;
    if (row.FirmwareFile.empty()) {
        errors += " Please select file for " + row.ControllerType + "\n\r";
    } else if (!CheckHexFileAt(ctx, reader, row.FirmwareFile)) {
        errors += kInvalidChecksumRefusal;
    }
    if (!errors.empty()) {
        EndWithoutRun(ctx, result, RunEnd::Refused, kWarningStart + errors);
        return;
    }

    UpgradeReport report;
    report.start(ctx);
    report.beginRow(ctx, 0, row);
    s.RowOk = true;
    // An error that escapes the programming run (the request lost with the port, no answer
    // from the bootloader) ends the row as FAILED; the report is written and shown all the
    // same.
    SerialPort& port = *ctx.ports.ComPort1;
    bool programmed = false;
    try {
        // Only a file that passed its checks makes the device leave its firmware. A device
        // that refuses the request stays in it, and its silence below fails the row.
        if (!s.TpTransmitterMode) {
            ctx.journal_change(DeviceChange::CpuBootloader);
            ctx.log_and_show("-> {P_PRGRQST}");
            WriteText(port, "{P_PRGRQST}");
            ReadReply(ctx, port, '}');
        }
        ClosePort(port);
        SetBaud(port, kStmSerialBaud);
        SetParity(port, Parity::Even);
        port.open();
        ctx.sleep(kReopenSettle);
        if (!StmCommand(ctx, kStmSync) || !SyncAcknowledged(s)) {
            report.deviceSilent();
            throw KvError(kNoBootloader);
        }

        ctx.log_and_show("Starting bootloader...");
        programmed = StmProgram(ctx, reader, row.FirmwareFile) &&
                     FileUnchanged(ctx, row.FirmwareFile, stamp);
        ctx.log_and_show("Finished!");
    } catch (const std::exception& e) {
        ctx.log_line(e.what());
        ctx.error_box(e.what());
    }
    // A failed programming run must not read as a successful upgrade.
    s.RowOk = programmed;
    // The transmitter's report lists no row, only the verdict.
    report.endRow(ctx, programmed, false);

    ctx.show_status("Done!");
    ctx.set_progress(0);
    report.finish(ctx);
    ClearRow(ctx, 0);
    GridReset(ctx);
    result = report.result();
    report.show(ctx);
}

}  // namespace kv
