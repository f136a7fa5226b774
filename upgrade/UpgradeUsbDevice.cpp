#include <array>

#include "UpgradeProcedures.h"
#include "UpgradeReport.h"
#include "UpgradeRows.h"
#include "UpgradeState.h"
#include "core/ControllerGrid.h"
#include "firmware/HexFile.h"
#include "flash/HidBootloader.h"

namespace kv {

void UpgradeUsbDevice(Context& ctx) {
    RunResult& result = upgradeState(ctx).lastRun;
    result = RunResult{};
    SharedState& s = ctx.state;
    s.TrailingRowCount = 2;
    s.HexFileOpened = false;
    TMatrixRec* device = s.selectedDevice();
    if (!device || !AnySelected(device->Controllers)) {
        EndWithoutRun(ctx, result, RunEnd::NothingSelected, kNoControllerSelected);
        return;
    }
    if (!ConfirmUpgrade(ctx)) {
        result.end = RunEnd::Declined;
        return;
    }

    // A copy: the HEX scans pump messages, and USB changes may move DeviceList entries.
    const std::vector<TControllerRec> rows = device->Controllers;
    HexReaderState& reader = upgradeState(ctx).hex;
    const FileStamp stamp = StampOf(rows.front().FirmwareFile);
    std::string errors;
    const auto imageStart = static_cast<std::int64_t>(rows.size()) - s.TrailingRowCount;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].Selected) continue;
        if (rows[i].FirmwareFile.empty()) {
            errors += " Please select file for " + rows[i].ControllerType + "\n\r";
        } else if (static_cast<std::int64_t>(i) < imageStart &&
                   ScanHexFileAt(ctx, reader, rows[i].FirmwareFile)) {
            errors += kInvalidChecksumRefusal;
        }
    }
    const TControllerRec row = rows.front();
    // The row the transfer takes is checked whole before anything goes to the device (the
    // scan above covers only the rows in front of the image rows).
    // An unsound file is not read for its type (one that cannot be read would end the run
    // by an error).
    if (!row.FirmwareFile.empty()) {
        if (!HexFileSound(row.FirmwareFile)) {
            if (imageStart <= 0) errors += kInvalidChecksumRefusal;
        } else if (CheckHidDeviceType(ctx, row.FirmwareFile)) {
            errors += kHidTypeRefusal;
        }
    }
    if (!errors.empty()) {
        EndWithoutRun(ctx, result, RunEnd::Refused, kWarningStart + errors);
        return;
    }

    UpgradeReport report;
    report.start(ctx);
    if (!row.FirmwareFile.empty() && row.Selected) {
        report.beginRow(ctx, 0, row);
        s.RowOk = true;
        // An error that escapes the transfer ends the row as FAILED; the run still ends
        // with the finish command and the report.
        try {
            StartHidTransfer(ctx, row.FirmwareFile);
            WaitHidTransfer(ctx);
            s.RowOk = HidTransferSucceeded(ctx) && FileUnchanged(ctx, row.FirmwareFile, stamp);
        } catch (const std::exception& e) {
            s.RowOk = false;
            ctx.log_line(e.what());
            ctx.error_box(e.what());
        }
        report.endRow(ctx, s.RowOk);
        ClearRow(ctx, 0);
    }
    ctx.show_status("Done!");
    ctx.set_progress(0);
    report.finish(ctx);
    const std::array<std::uint8_t, 1> finish{kHidFinish};
    SendHidReport(ctx, finish, 1, 0x00);
    ctx.journal_restored();
    GridReset(ctx);
    result = report.result();
    report.show(ctx);
}

}  // namespace kv
