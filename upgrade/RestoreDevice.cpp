#include "RestoreDevice.h"

#include "UpgradeRows.h"
#include "UpgradeState.h"
#include "device/Channels.h"
#include "discovery/UsbState.h"
#include "flash/HidBootloader.h"
#include "flash/PicFlash.h"
#include "module/ModuleOperations.h"
#include "module/SetupRecord.h"

namespace kv {

namespace {

constexpr int kEepromCommand = 5;
constexpr std::int64_t kFibreFlagAddress = 1023;
constexpr int kLineEn = 1;

const char* const kUnreachable =
    "The selected device is unreachable!\n\rDo you want to continue?\n\rIf you click YES, the baud "
    "rate and timing settings might be configured wrong.\n\rYou must set them later for porper "
    "operation!\n\r(By reconnecting to the device with the bootloader, and then closing it "
    "properly\n\rIf you click CANCEL, you must replug the network cable and try again!";

std::string FirstRowType(Context& ctx) {
    const auto* rows = ctx.state.selectedControllers();
    return rows && !rows->empty() ? rows->front().ControllerType : std::string();
}

bool DirectSetup(const SharedState& s) {
    return s.DirectSetupMatrix || s.DirectSetupModular;
}

// The shift register back to its idle pattern: no card on the serial line, the CPU
// released from reset into its firmware.
void ReleaseRegister(Context& ctx) {
    const std::string& ip = ctx.state.CurrentIP;
    set_shift_register(ctx, {0, 0, 0, 0, 0, 1, 1, 0}, 0, ip);
    ctx.ProcessMessages();
    ctx.sleep(kShiftPause);
    ctx.ProcessMessages();
    set_shift_register(ctx, {0, 0, 0, 0, 1, 1, 1, 1}, 1, ip);
    update_GPIO(ctx, kLineEn, 1, ip);
}

// The CPU of an "RV-CTL2" device leaves its bootloader and starts its firmware.
void ReleaseSequence(Context& ctx) {
    const std::string& ip = ctx.state.CurrentIP;
    ctx.ports.ClientSocket1->close();
    Connect(*ctx.ports.TcpClient1);
    ctx.log_and_show("Recovering from bootload mode and starting firmware");
    exit_BL_mode(ctx, ip);
    set_GPIO_directions(ctx, "OUTPUT", ip);
    ReleaseRegister(ctx);
}

// What PIC rows left behind on a device whose restore is the 57600 set-up: the module's
// bootloader mode, or a card the shift register still puts on the serial line.
void ReleaseRunLeftovers(Context& ctx) {
    UpgradeState& up = upgradeState(ctx);
    if (up.bootloaderModeEntered) exit_BL_mode(ctx, ctx.state.CurrentIP);
    if (up.cardLatched) {
        set_GPIO_directions(ctx, "OUTPUT", ctx.state.CurrentIP);
        ReleaseRegister(ctx);
    }
    up.bootloaderModeEntered = false;
    up.cardLatched = false;
}

// Devices without a CPU row: the main controller selected again at 9600 baud.
void CardRelease(Context& ctx) {
    const std::string& ip = ctx.state.CurrentIP;
    select_GPIO(ctx, 0, ip);
    ctx.sleep(kSelectPause);
    select_GPIO(ctx, 7, ip);
    setup_9600_none(ctx, ip);
}

void CardReleaseAndWait(Context& ctx) {
    CardRelease(ctx);
    for (int i = 0; i < kCardReleaseRounds; ++i) {
        ctx.sleep(kCardReleaseRound);
        ctx.ProcessMessages();
    }
}

// The fibre link card keeps a flag in its data EEPROM that must be cleared on the way out.
void EepromByteClear(Context& ctx) {
    SharedState& s = ctx.state;
    if (s.DeviceList.empty() || s.SelectedDevice < 0) return;
    if (FirstRowType(ctx) != "QB2LNK-MAX") return;
    const std::uint8_t zero = 0x00;
    PicWriteVerify(ctx, upgradeState(ctx).pic, false, kEepromCommand, ByteView(&zero, 1), 1,
                   kFibreFlagAddress);
}

void CloseConnections(Context& ctx) {
    ctx.ports.IdUDPServer1->close();
    Disconnect(*ctx.ports.TcpClient1);
    ctx.ports.XPORT_GPIO_Client->close();
}

// The module's serial setting of normal operation for a recovered device: the one it
// had before the first change, else the one the end of a run sets for its kind.
const SerialSetting& NormalSetting(const RestoreFacts& facts) {
    if (const SerialSetting* known = NormalSettingNamed(facts.normalSerial)) return *known;
    const bool fast =
        facts.directSetupMatrix || facts.directSetupModular || facts.firstRow == kCpuModular;
    return fast ? kSetup57600None : kSetup9600None;
}

bool RestoreNetworkEntry(Context& ctx, const JournalEntry& entry) {
    const std::string& ip = ctx.state.CurrentIP;
    const RestoreFacts& facts = entry.facts;
    TcpClient& tunnel = *ctx.ports.TcpClient1;
    if (tunnel.connected()) Disconnect(tunnel);
    tunnel.setHost(ip);
    if (facts.tunnelPort > 0) tunnel.setPort(facts.tunnelPort);
    if (!Connect(tunnel) && !Connect(tunnel)) return false;
    Disconnect(tunnel);
    if (entry.has(DeviceChange::BootloaderMode)) exit_BL_mode(ctx, ip);
    const bool modularCpu = facts.firstRow == kCpuModular;
    if (entry.has(DeviceChange::CpuBootloader) && modularCpu) {
        set_GPIO_directions(ctx, "OUTPUT", ip);
        reset_GPIO_lines(ctx, ip);
    }
    if (entry.has(DeviceChange::ShiftRegister) ||
        (entry.has(DeviceChange::CpuBootloader) && !modularCpu)) {
        set_GPIO_directions(ctx, "OUTPUT", ip);
        ReleaseRegister(ctx);
    }
    if (entry.has(DeviceChange::SelectLines)) {
        select_GPIO(ctx, 0, ip);
        ctx.sleep(kSelectPause);
        select_GPIO(ctx, 7, ip);
    }
    if (entry.has(DeviceChange::SerialSetup)) {
        const SerialSetting& normal = NormalSetting(facts);
        if (&normal == &kSetup9600None) {
            setup_9600_none(ctx, ip);
            // The controllers restart after the change, as at the end of a run.
            for (int i = 0; i < kCardReleaseRounds; ++i) ctx.sleep(kCardReleaseRound);
        } else {
            setup_57600_none(ctx, ip);
        }
    }
    if (ctx.ports.XPORT_GPIO_Client) ctx.ports.XPORT_GPIO_Client->close();
    return true;
}

// A USB device in its bootloader: the finish command the end of a run sends.
bool RestoreUsbEntry(Context& ctx, const JournalEntry& entry) {
    if (!ctx.usb) return false;
    for (ClaimedHid& claimed : ctx.usb->claimed) {
        if (!claimed.device || claimed.info.serial != entry.device.id) continue;
        HidDevice* previous = ctx.usb->CurrentHidDevice;
        ctx.usb->CurrentHidDevice = claimed.device.get();
        const std::array<std::uint8_t, 1> finish{kHidFinish};
        SendHidReport(ctx, finish, 1, 0x00);
        ctx.usb->CurrentHidDevice = previous;
        return true;
    }
    return false;
}

}  // namespace

MsgButton AskUnreachable(Context& ctx) {
    return ctx.ask(QuestionId::RestoreUnreachable, kUnreachable, DialogKind::Confirmation,
                   {MsgButton::Yes, MsgButton::Cancel}, static_cast<int>(MsgButton::Cancel));
}

bool RestoreRecordedChanges(Context& ctx, const JournalEntry& entry) {
    switch (entry.device.kind) {
        case ConnectionKind::Network: {
            // A scratch state: the restore steps address the recorded device, and the
            // device the program has open keeps its own state.
            SharedState scratch;
            scratch.DebugSwitch = ctx.state.DebugSwitch;
            scratch.CurrentIP = entry.device.id;
            Context restore(scratch, ctx.log, ctx.ui, ctx.clock, ctx.ports);
            restore.usb = ctx.usb;
            try {
                return RestoreNetworkEntry(restore, entry);
            } catch (const std::exception& e) {
                ctx.log_line(e.what());
                return false;
            }
        }
        case ConnectionKind::Usb:
            return RestoreUsbEntry(ctx, entry);
        case ConnectionKind::Serial:
            // A serial device left in its upgrade mode is brought back by the connect
            // itself ("Device has been in firmware upgrade mode...").
            return true;
        case ConnectionKind::None:
            break;
    }
    return false;
}

void RestoreDeviceAfterUpgrade(Context& ctx) {
    ctx.report_progress(ProgressPhase::Restoring);
    SharedState& s = ctx.state;
    EepromByteClear(ctx);
    const std::string first = FirstRowType(ctx);
    const bool belowDirect = s.DeviceFwNumber < 300 && first != kCpuModular;
    // The journal entry is closed only when the device answered its restore.
    bool answered = false;
    if (s.CurrentIP != "0.0.0.0") {
        TcpClient& tunnel = *ctx.ports.TcpClient1;
        if (tunnel.connected()) Disconnect(tunnel);
        ctx.showBusy("Closing connections ...");
        ctx.sleep(kCloseSettle);
        tunnel.setHost(s.CurrentIP);
        if (!tunnel.connected()) Connect(tunnel);
        if (!tunnel.connected()) Connect(tunnel);
        if (tunnel.connected()) {
            answered = true;
            ctx.ProcessMessages();
            if (belowDirect) {
                CardReleaseAndWait(ctx);
            } else if (DirectSetup(s) || first == kCpuModular) {
                ReleaseRunLeftovers(ctx);
                setup_57600_none(ctx, s.CurrentIP);
            } else {
                ReleaseSequence(ctx);
            }
            if (belowDirect) {
                select_GPIO(ctx, 0, s.CurrentIP);
                ctx.sleep(kSelectPause);
                select_GPIO(ctx, 7, s.CurrentIP);
            }
        } else {
            AskUnreachable(ctx);  // the answer does not change what follows
            if (s.DeviceFwNumber < 300) {
                CardRelease(ctx);
            } else if (DirectSetup(s) || first == kCpuModular) {
                ReleaseRunLeftovers(ctx);
                setup_57600_none(ctx, s.CurrentIP);
            } else {
                exit_BL_mode(ctx, s.CurrentIP);
            }
        }
    }
    if (first == kCpuModular && s.CurrentIP != "0.0.0.0") reset_GPIO_lines(ctx, s.CurrentIP);
    if (answered) ctx.journal_restored();
    ctx.hideBusy();
    CloseConnections(ctx);
    ctx.ui.enable(UiElement::ComTree, true);
    s.deviceSwitchedOver = false;
}

bool CloseProgram(Context& ctx) {
    if (ctx.ask(QuestionId::ConfirmExit, "Do you really want to exit?", DialogKind::Confirmation,
                {MsgButton::Yes, MsgButton::Cancel},
                static_cast<int>(MsgButton::Cancel)) != MsgButton::Yes) {
        return false;
    }
    if (!RestoreOnClose(ctx)) return false;
    ctx.log.close();
    return true;
}

bool RestoreOnClose(Context& ctx) {
    SharedState& s = ctx.state;
    // A device the last run restored and nothing changed since is left alone.
    if (!s.deviceSwitchedOver) return true;
    EepromByteClear(ctx);
    if (s.CurrentIP == "0.0.0.0") {
        // A serial or USB device: its close has nothing more to send.
        ctx.journal_restored();
        return true;
    }
    const std::string first = FirstRowType(ctx);
    const bool noCpu = first != kCpuMatrix && first != kCpuModular;
    TcpClient& tunnel = *ctx.ports.TcpClient1;
    if (tunnel.connected()) Disconnect(tunnel);
    ctx.showBusy("Closing connections ...");
    Connect(tunnel);
    const bool answers = tunnel.connected();
    if (answers) {
        ctx.ProcessMessages();
    } else if (AskUnreachable(ctx) != MsgButton::Yes) {
        ctx.hideBusy();
        return false;  // connections are left as they are
    }
    if (noCpu) {
        if (answers) {
            CardReleaseAndWait(ctx);
        } else {
            CardRelease(ctx);
        }
    } else if (DirectSetup(s) || first == kCpuModular) {
        setup_57600_none(ctx, s.CurrentIP);
    } else {
        ReleaseSequence(ctx);
    }
    if (answers) ctx.journal_restored();
    ctx.hideBusy();
    CloseConnections(ctx);
    s.deviceSwitchedOver = false;
    return true;
}

}  // namespace kv
