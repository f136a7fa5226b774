#include <array>
#include <filesystem>
#include <fstream>

#include "RestoreDevice.h"
#include "UpgradeProcedures.h"
#include "UpgradeReport.h"
#include "UpgradeRows.h"
#include "UpgradeState.h"
#include "UpgradeWaits.h"
#include "core/ControllerGrid.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "firmware/HexFile.h"
#include "flash/PicDeviceRules.h"
#include "flash/PicFlash.h"
#include "flash/StmUpgrade.h"
#include "flash/TftpPackets.h"
#include "flash/TftpUpload.h"
#include "flash/WebPackageUnzip.h"
#include "flash/WebPackageUpload.h"
#include "module/ModuleOperations.h"

namespace kv {

namespace {

using std::chrono::milliseconds;

constexpr auto kDirectSetupSettle = milliseconds(500);
constexpr int kDirectSetupSettleRounds = 8;
constexpr auto kShiftSettle = milliseconds(100);
constexpr auto kClockPulse = milliseconds(3);
constexpr auto kSelectSettle = milliseconds(500);
constexpr auto kRestartRetryPause = milliseconds(2000);
constexpr int kRestartRetries = 3;
// Bytes that start a fibre card's firmware after a successful run.
constexpr std::array<std::uint8_t, 6> kFibreStart{0x0F, 0x0F, 0x02, 0x00, 0xFE, 0x04};

// Rows of a serial-attached device programmed as microcontroller rows.
constexpr std::int64_t kSerialCpuRows = 2;

constexpr int kLineClk = 2, kLineData = 3;

// Card select bits clocked into the shift register for a PIC row of a device with a CPU
// row; row 0 (the CPU) and rows beyond 6 keep the previous last bit.
struct ShiftSelect {
    std::array<int, 8> bits{};
    int last = -1;  // -1: unchanged
};

ShiftSelect ShiftSelectFor(std::size_t row, const std::string& rowType) {
    auto with = [](std::initializer_list<int> ones, int last) {
        ShiftSelect s;
        for (int i : ones) s.bits[static_cast<std::size_t>(i)] = 1;
        s.last = last;
        return s;
    };
    switch (row) {
        case 1:
            return with({5, 6}, 1);
        case 2:
            return with({0, 5, 6}, 0);
        case 3:
            return rowType == "PSV-AGG" ? with({0, 5, 6}, 1) : with({0, 1, 5, 6}, 0);
        case 4:
            return with({1, 5, 6}, 0);
        case 5:
            return with({1, 5, 6}, 1);
        case 6:
            return with({0, 1, 5, 6}, 0);
        default:
            return ShiftSelect{};
    }
}

void detailShown(Context& ctx, const std::string& text) {
    if (ctx.detail()) ctx.log_and_show(text);
}

void detailLogged(Context& ctx, const std::string& text) {
    if (ctx.detail()) ctx.log_line(text);
}

void waitPumping(Context& ctx, milliseconds first, milliseconds second) {
    ctx.sleep(first);
    ctx.ProcessMessages();
    ctx.sleep(second);
}

// Points TcpClient1 at the device's tunnel and brings it up. The tunnel may take a while
// to accept after a set-up change; a bounded wait turns a device that never accepts into
// a failed row instead of a hang.
bool TunnelUp(Context& ctx, const TMatrixRec& device, bool pump) {
    TcpClient& tunnel = *ctx.ports.TcpClient1;
    tunnel.setHost(ctx.state.CurrentIP);
    tunnel.setPort(device.Port);
    if (pump) ctx.ProcessMessages();
    try {
        ConnectUntilUp(ctx, tunnel, ctx.state.CurrentIP);
        return true;
    } catch (const KvError& e) {
        ctx.log_and_show(e.what());
        return false;
    }
}

// Brings the card of a PIC row to its bootloader and opens the tunnel to it. False when
// the tunnel never came up.
bool PreparePicTarget(Context& ctx, const TMatrixRec& device, std::size_t row, int& shiftLast) {
    SharedState& s = ctx.state;
    const auto& rows = device.Controllers;
    const std::string& first = rows.front().ControllerType;
    const std::string& ip = s.CurrentIP;
    const bool direct = s.DirectSetupMatrix || s.DirectSetupModular;

    if (first != kCpuMatrix && first != kCpuModular) {
        // Devices without a CPU row route the serial line by the card select code.
        select_GPIO(ctx, 0, ip);
        select_GPIO(ctx, rows[row].CardAddress & 0xFF, ip);
        waitPumping(ctx, kCardSelectSettle, kCardSelectSettle);
        ctx.ProcessMessages();
        ctx.sleep(kCardSelectSettle);
        return TunnelUp(ctx, device, true);
    }

    UpgradeState& up = upgradeState(ctx);
    if (direct) {
        setup_19200_none(ctx, ip);
        for (int i = 0; i < kDirectSetupSettleRounds; ++i) {
            ctx.sleep(kDirectSetupSettle);
            ctx.ProcessMessages();
        }
        if (first == kCpuMatrix) up.cardLatched = true;
    } else {
        enter_BL_mode(ctx, ip, 19200, 0);
        up.bootloaderModeEntered = true;
    }
    if (!TunnelUp(ctx, device, false)) return false;
    Disconnect(*ctx.ports.TcpClient1);

    set_GPIO_directions(ctx, "OUTPUT", ip);
    ShiftSelect select;
    if (first != kCpuModular) {
        select = ShiftSelectFor(row, rows[row].ControllerType);
        if (select.last >= 0) shiftLast = select.last;
    }
    detailShown(ctx, "Select control panel");
    if (first != kCpuModular) {
        set_shift_register(ctx, select.bits, shiftLast, ip);
        ctx.sleep(kShiftSettle);
        update_GPIO(ctx, kLineData, 0, ip);
        update_GPIO(ctx, kLineClk, 0, ip);
        ctx.sleep(kClockPulse);
        update_GPIO(ctx, kLineClk, 1, ip);
        ctx.sleep(kSelectSettle);
    } else {
        update_GPIO(ctx, kLineClk, 1, ip);
        update_GPIO(ctx, kLineData, 0, ip);
        ctx.sleep(kSelectSettle);
        update_GPIO(ctx, kLineData, 1, ip);
    }
    return TunnelUp(ctx, device, true);
}

void ProgramPicRow(Context& ctx, const TControllerRec& row) {
    UpgradeState& up = upgradeState(ctx);
    const std::string& type = row.ControllerType;
    ctx.log_line("New hex file: " + FileNameOf(row.FirmwareFile));
    ctx.show_status("Erasing " + type + "...");
    detailShown(ctx, "Erasing " + type + "...");
    PicEraseRange range = PicEraseRangeFor(type);
    ctx.journal_change(DeviceChange::Erase);
    PicErase(ctx, up.pic, range.step, range.first, range.last);
    ctx.show_status("Programming & Verifying " + type + "...");
    detailShown(ctx, "Programming & Verifying " + type + "...");
    if (ctx.state.RowOk) {
        std::ifstream measured(row.FirmwareFile, std::ios::binary);
        const std::uint64_t total = HexDataBytes(measured);
        std::ifstream in(row.FirmwareFile, std::ios::binary);
        const int badRecord =
            PicProgramHexFile(ctx, up.pic, up.hex, ctx.quickBootload(), in, total);
        // A pass that stopped before the end of the file (bad record, read error, verify
        // error, lost link) left the card erased or half written.
        if (badRecord != 0 || in.bad() || !in.eof())
            ctx.fail_row("The programming pass stopped before the end of the file");
    }
}

// Validation of every chosen row; an empty result means every file is fit.
std::string ValidateRows(Context& ctx, const std::vector<TControllerRec>& rows,
                         std::size_t imageStart) {
    HexReaderState& reader = upgradeState(ctx).hex;
    std::string errors;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TControllerRec& row = rows[i];
        if (!row.Selected) continue;
        if (row.FirmwareFile.empty()) {
            errors += " Please select file for " + row.ControllerType + "\n\r";
            continue;
        }
        if (i >= imageStart) {
            // An image goes to the device as it is; one that is gone would fail only after
            // the rows before it changed the device.
            if (!std::ifstream(row.FirmwareFile, std::ios::binary)) {
                errors += ImageMissingRefusal(row.FirmwareFile);
            }
            continue;
        }
        const std::string& type = row.ControllerType;
        if (!RowChecksFileIdentity(type)) {
            if (!CheckHexFileAt(ctx, reader, row.FirmwareFile)) {
                errors += kInvalidChecksumRefusal;
            }
            continue;
        }
        if (ScanHexFileAt(ctx, reader, row.FirmwareFile)) {
            errors += kInvalidChecksumRefusal;
        }
        const std::string& fileType = ctx.state.HexControllerType;
        if (!ControllerTypeFits(fileType, type)) {
            errors += " Invalid controller type info for " + type + " (" + fileType + ")\n\r";
        }
        const std::string& fileHw = ctx.state.HexHardwareInfo;
        if (!HardwareFits(fileHw, row.HardwareVersion)) {
            errors += " Invalid hardware info for " + type + " (" + fileHw + ")\n\r";
        }
    }
    return errors;
}

void UploadWebPackage(Context& ctx, const TMatrixRec& device, std::size_t index) {
    const TControllerRec row = device.Controllers[index];
    const std::string& ip = ctx.state.CurrentIP;
    const std::string folder = ctx.state.AppDataFolder + "/" + kWebPackageFolder;
    detailLogged(ctx, "Unzipping Web Package to " + ctx.state.AppDataFolder + " ...");
    ctx.show_status("Unzipping ...");
    // Content left by an earlier package must not stand in for this package's.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    UnzipWebPackage(folder, row.FirmwareFile);
    // A package without web content is refused before the firmware goes up: the new
    // firmware would otherwise run with the old site, and the FTP step would fail later.
    if (!std::filesystem::is_directory(std::filesystem::path(folder) / kWebContentFolder)) {
        throw KvError("The web package has no \"" + std::string(kWebContentFolder) + "\" folder");
    }
    ctx.show_status("Uploading firmware.bin");
    detailLogged(ctx, "Upgrading firmware.bin");
    TftpUpload(ctx, ip, folder + "/firmware.bin", kTftpKindFirmwareImage);
    ClearRow(ctx, index);
    ctx.ports.TFTP1->close();

    detailLogged(ctx, "Restarting matrix and reconnecting");
    ctx.show_status("Restarting matrix and reconnecting");
    waitPumping(ctx, kAfterImageFirst, kAfterImageSecond);

    TcpClient& tunnel = *ctx.ports.TcpClient1;
    Disconnect(tunnel);
    ctx.sleep(kRestartReconnectPause);
    tunnel.setHost(ip);
    Connect(tunnel);
    ctx.ProcessMessages();
    for (int i = 0; i < kRestartRetries && !tunnel.connected(); ++i) {
        ctx.sleep(kRestartRetryPause);
        ctx.ProcessMessages();
        tunnel.setHost(ip);
        Connect(tunnel);
    }
    if (!tunnel.connected()) {
        // The web content never went up: the device still serves the old site.
        ctx.state.RowOk = false;
        ctx.error_box("Can not reconnect to matrix");
        return;
    }
    Disconnect(tunnel);
    detailLogged(ctx, "Uploading Web Content ...");
    FtpUploadWebContent(ctx, ip, ctx.state.AppDataFolder);
}

// The rows of a run and what each one is, in the order they run: the microcontroller rows
// first, then the module's image rows at the end of the list.
enum class RowKind { Card, Cpu, WebServerImage, WebPackage, WebContentImage };
struct RowStep {
    std::size_t index;
    RowKind kind;
};

std::vector<RowStep> RowSteps(const TMatrixRec& device, std::int64_t cpuRows, int trailing,
                              bool direct) {
    const auto& rows = device.Controllers;
    const auto count = static_cast<std::int64_t>(rows.size());
    const std::string& first = rows.front().ControllerType;
    std::vector<RowStep> steps;
    for (std::int64_t r = 0; r < std::min(cpuRows, count); ++r) {
        const auto index = static_cast<std::size_t>(r);
        const std::string& type = rows[index].ControllerType;
        steps.push_back(
            {index, type == kCpuMatrix || type == kCpuModular ? RowKind::Cpu : RowKind::Card});
    }
    // The first image row: the web server image, or the web package of a matrix CPU.
    if (count - trailing >= 0 && count - trailing < count) {
        steps.push_back({static_cast<std::size_t>(count - trailing), first != kCpuMatrix || direct
                                                                         ? RowKind::WebServerImage
                                                                         : RowKind::WebPackage});
    }
    // The second image row: the web content image.
    if (trailing == 2 && count >= 1)
        steps.push_back({static_cast<std::size_t>(count - 1), RowKind::WebContentImage});
    return steps;
}

// A PIC card through its serial bootloader, reached by the select lines or the shift
// register; a network device's card first needs its route set up.
void UpgradeCardRow(Context& ctx, const TMatrixRec& device, std::size_t index,
                    const TControllerRec& row, int& shiftLast) {
    if (ctx.state.ConnectionKind == ConnectionKind::Network &&
        !PreparePicTarget(ctx, device, index, shiftLast)) {
        ctx.fail_row("The tunnel to the card did not come up");
        return;
    }
    ProgramPicRow(ctx, row);
}

// An STM32 CPU through the chip's system bootloader; only a network device has one.
void UpgradeCpuRow(Context& ctx, const TMatrixRec& device, const TControllerRec& row) {
    SharedState& s = ctx.state;
    if (s.ConnectionKind != ConnectionKind::Network) return;
    const std::string& file = device.Controllers.front().FirmwareFile;
    const bool programmed = row.ControllerType == kCpuMatrix
                                ? StmUpgradeMatrix(ctx, upgradeState(ctx).hex, s.CurrentIP, file)
                                : StmUpgradeModular(ctx, upgradeState(ctx).hex, s.CurrentIP, file);
    if (!programmed) ctx.fail_row("The CPU was not programmed");
}

// A module image by TFTP: the web server image, or the web content image after the
// module has had time to settle from the row before.
void UpgradeImageRow(Context& ctx, const TMatrixRec& device, std::size_t index,
                     const TControllerRec& row, RowKind kind) {
    const bool content = kind == RowKind::WebContentImage;
    if (content) {
        for (int i = 0; i < kBeforeWebContentRounds; ++i) {
            if (i) ctx.ProcessMessages();
            ctx.sleep(kBeforeWebContent);
        }
    }
    ctx.show_status("Programming & Verifying " + row.ControllerType + "...");
    detailLogged(ctx, content ? "Upgrading Web Content ..." : "Upgrading Web Server ...");
    TftpUpload(ctx, ctx.state.CurrentIP, row.FirmwareFile,
               content ? kTftpKindWebContent : TftpWebServerKind(device.MAC));
    ClearRow(ctx, index);
    ctx.ports.TFTP1->close();
    if (!content) waitPumping(ctx, kAfterImageFirst, kAfterImageSecond);
}

// The end of a microcontroller row: the bar full, then empty, and a pause.
void FinishControllerRow(Context& ctx) {
    ctx.set_progress(100);
    ctx.show_status("Done!");
    ctx.set_progress(0);
    detailShown(ctx, "Done!");
    ctx.sleep(kRowPause);
}

}  // namespace

void UpgradeNetworkDevice(Context& ctx) {
    RunResult& result = upgradeState(ctx).lastRun;
    result = RunResult{};
    SharedState& s = ctx.state;
    TMatrixRec* device = s.selectedDevice();
    const bool hasRows = device && !device->Controllers.empty();
    const std::string first = hasRows ? device->Controllers.front().ControllerType : "";
    const bool direct = s.DirectSetupMatrix || s.DirectSetupModular;

    // Rewritten on every run, also one that finds nothing to do.
    s.TrailingRowCount = 2;
    if (first == "RV-PNL16" || first == "RV-PNL32" || first == kCpuMatrix) s.TrailingRowCount = 1;
    if (direct) s.TrailingRowCount = 2;
    s.HexFileOpened = false;
    if (!hasRows || !AnySelected(device->Controllers)) {
        EndWithoutRun(ctx, result, RunEnd::NothingSelected, kNoControllerSelected);
        return;
    }
    // Message pumping during the run may add or drop DeviceList entries (USB changes),
    // so the procedure works on a copy of the device and reads each row afresh.
    const TMatrixRec snapshot = *device;
    const std::vector<TControllerRec>& rows = snapshot.Controllers;
    auto liveRow = [&s](std::size_t index) {
        const auto* live = s.selectedControllers();
        return live && index < live->size() ? (*live)[index] : TControllerRec{};
    };
    if (!ConfirmUpgrade(ctx)) {
        result.end = RunEnd::Declined;
        return;
    }

    const auto count = static_cast<std::int64_t>(rows.size());
    // A serial-attached device's rows are all microcontroller rows (two at most).
    std::int64_t cpuRows = count - s.TrailingRowCount;
    if (s.ConnectionKind == ConnectionKind::Serial) cpuRows = kSerialCpuRows;
    const auto imageStart = static_cast<std::size_t>(std::max<std::int64_t>(0, cpuRows));
    // The files as the operator chose them, before anything reads them.
    std::vector<FileStamp> stamps;
    for (const auto& row : rows) stamps.push_back(StampOf(row.FirmwareFile));
    if (std::string errors = ValidateRows(ctx, rows, imageStart); !errors.empty()) {
        EndWithoutRun(ctx, result, RunEnd::Refused, kWarningStart + errors);
        return;
    }

    UpgradeReport report;
    report.start(ctx);
    if (s.ConnectionKind == ConnectionKind::Serial) s.TrailingRowCount = 2;
    upgradeState(ctx).bootloaderModeEntered = false;
    upgradeState(ctx).cardLatched = false;

    // The row being upgraded; an error that escapes it ends the row and the rows after it
    // as FAILED, and the run still ends with the report and the device restored.
    constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);
    std::size_t current = kNoRow;
    try {
        int shiftLast = 0;
        for (const RowStep& step : RowSteps(snapshot, cpuRows, s.TrailingRowCount, direct)) {
            // A row already upgraded in this run (a serial device's rows are listed twice)
            // has been cleared.
            const TControllerRec row = liveRow(step.index);
            if (row.FirmwareFile.empty() || !row.Selected) continue;
            // An interrupted run attempts no further row.
            ctx.checkInterrupt();
            current = step.index;
            report.beginRow(ctx, step.index, row);
            s.RowOk = true;
            switch (step.kind) {
                case RowKind::Card:
                    UpgradeCardRow(ctx, snapshot, step.index, row, shiftLast);
                    break;
                case RowKind::Cpu:
                    UpgradeCpuRow(ctx, snapshot, row);
                    break;
                case RowKind::WebServerImage:
                case RowKind::WebContentImage:
                    UpgradeImageRow(ctx, snapshot, step.index, row, step.kind);
                    break;
                case RowKind::WebPackage:
                    ctx.show_status("Programming & Verifying " + row.ControllerType + "...");
                    UploadWebPackage(ctx, snapshot, step.index);
                    break;
            }
            const bool controllerRow = step.kind == RowKind::Card || step.kind == RowKind::Cpu;
            if (controllerRow) FinishControllerRow(ctx);
            FileUnchanged(ctx, rows[current].FirmwareFile, stamps[current]);
            report.endRow(ctx, s.RowOk);
            current = kNoRow;
            if (controllerRow) ClearRow(ctx, step.index);
        }
    } catch (const std::exception& e) {
        s.RowOk = false;
        ctx.log_line(e.what());
        ctx.error_box(e.what());
        std::size_t from = 0;
        if (current != kNoRow) {
            report.endRowByError(ctx, e);
            ClearRow(ctx, current);
            from = current + 1;
        }
        // The rows after it were not attempted; they keep their files for the next run.
        for (std::size_t i = from; i < rows.size(); ++i) {
            const TControllerRec row = liveRow(i);
            if (row.Selected && !row.FirmwareFile.empty()) report.notAttempted(ctx, i, row);
        }
    }

    ctx.show_status("Done!");
    ctx.set_progress(0);
    report.finish(ctx);
    if (report.allOk() && PicIsFibreCard(first) && ctx.ports.ComPort1->isOpen()) {
        ctx.ports.ComPort1->write(kFibreStart);
    }
    result = report.result();
    RestoreDeviceAfterUpgrade(ctx);
    GridReset(ctx);
    report.show(ctx);
}

}  // namespace kv
