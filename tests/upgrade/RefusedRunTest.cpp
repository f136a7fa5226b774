// A run the file checks refuse sends nothing to the device, whichever procedure runs it
// and whatever the checks find: every kind of refusal against every procedure.
#include <filesystem>

#include <gtest/gtest.h>

#include "StmTestSupport.h"
#include "UsbTestRig.h"
#include "upgrade/UpgradeProcedures.h"
#include "upgrade/UpgradeRows.h"
#include "upgrade/UpgradeState.h"

namespace kv::test {
namespace {

enum class Procedure { Panel, MatrixCpu, SerialCard, Transmitter, Usb };
enum class Refusal { BadRecord, WrongType, WrongHardware, FileGone, NoFile, ImageGone };

const char* NameOf(Procedure p) {
    static const char* const names[] = {"panel", "matrix CPU", "serial card", "transmitter", "USB"};
    return names[static_cast<int>(p)];
}

const char* NameOf(Refusal r) {
    static const char* const names[] = {"bad record", "wrong type", "wrong hardware",
                                        "file gone",  "no file",    "image gone"};
    return names[static_cast<int>(r)];
}

// A card image naming its type and hardware, with one data record.
std::string CardHex(const std::string& type, const std::string& hw) {
    return sim::HexRecordLine(0, 0x0600, textBytes(type, 32)) + "\r\n" +
           sim::HexRecordLine(0, 0x0710, textBytes(hw, 16)) + "\r\n" +
           sim::HexRecordLine(0, 0x0800, pattern(16)) + "\r\n" + sim::HexRecordLine(1, 0, {}) +
           "\r\n";
}

// The first data record's checksum made wrong.
std::string Spoiled(std::string hex) {
    char& digit = hex[hex.find('\r') - 1];
    digit = digit == '0' ? '1' : '0';
    return hex;
}

// A device of the procedure's kind with its rows, connected as far as the run needs: no
// model answers, since nothing may reach one.
struct Device {
    explicit Device(Procedure p) : procedure(p) {
        SharedState& s = rig.state;
        switch (p) {
            case Procedure::Panel:
                rig.addDevice("127.0.0.2").Controllers = {row("RV-PNL16", "HW:1.0"),
                                                          row("Web Server")};
                s.DeviceFwNumber = 140;
                break;
            case Procedure::MatrixCpu:
                rig.addDevice("127.0.0.2").Controllers = {row(kCpuMatrix), row("RV-IN4", "HW:1.0"),
                                                          row("Web Package")};
                s.DeviceFwNumber = 312;
                break;
            case Procedure::SerialCard:
                rig.addSerialDevice(&nobody).Controllers = {row("LNK-FBR-RC330-MAX", "HW:1.0")};
                break;
            case Procedure::Transmitter:
                rig.addSerialDevice(&nobody).Controllers = {row("NRV-TW-SN500S")};
                s.TpTransmitterMode = false;  // the run itself makes the programming request
                break;
            case Procedure::Usb:
                usb.infoText = "KV USB-SW HW:1.2 FW:2.0.1 BL:1.1";
                rig.connect(usb);
                break;
        }
        if (p == Procedure::Panel || p == Procedure::MatrixCpu) {
            s.CurrentIP = "127.0.0.2";
            s.ConnectionKind = ConnectionKind::Network;
        }
    }
    static TControllerRec row(const std::string& type, const std::string& hw = "") {
        TControllerRec c;
        c.ControllerType = type;
        c.HardwareVersion = hw;
        return c;
    }
    std::vector<TControllerRec>& rows() { return rig.state.selectedDevice()->Controllers; }
    // The row the refusal is about: the card when the device has one, else its first.
    std::size_t subject(Refusal r) const {
        if (r == Refusal::ImageGone) return procedure == Procedure::Panel ? 1 : 2;
        return procedure == Procedure::MatrixCpu && r != Refusal::BadRecord &&
                       r != Refusal::FileGone
                   ? 1
                   : 0;
    }
    // A file the row would take as it is.
    std::string goodFile(std::size_t index) {
        const TControllerRec& r = rows()[index];
        const std::string path = rig.path("row" + std::to_string(index) + ".hex");
        if (procedure == Procedure::Usb) {
            UsbImage(usb.product()).write(path);
        } else if (RowChecksFileIdentity(r.ControllerType)) {
            writeFile(path, CardHex(r.ControllerType, r.HardwareVersion));
        } else {
            writeFile(path, makeHex({{0x08000000, pattern(64)}}));
        }
        return path;
    }
    void choose(Refusal r) {
        const std::size_t index = subject(r);
        TControllerRec& chosen = rows()[index];
        chosen.Selected = true;
        const std::string path = rig.path("row" + std::to_string(index) + ".hex");
        switch (r) {
            case Refusal::BadRecord:
                writeFile(path, Spoiled(readAll(goodFile(index))));
                chosen.FirmwareFile = path;
                break;
            case Refusal::WrongType:
                if (procedure == Procedure::Usb) {
                    UsbImage("USB-TX").write(path);
                } else {
                    writeFile(path, CardHex("XX-" + chosen.ControllerType, chosen.HardwareVersion));
                }
                chosen.FirmwareFile = path;
                break;
            case Refusal::WrongHardware:
                writeFile(path, CardHex(chosen.ControllerType, "HW:9.9"));
                chosen.FirmwareFile = path;
                break;
            case Refusal::FileGone:
                chosen.FirmwareFile = rig.path("gone.hex");
                break;
            case Refusal::NoFile:
                break;
            case Refusal::ImageGone:
                chosen.FirmwareFile = rig.path("gone.rom");
                break;
        }
        // The device's first row takes a sound file too, so that only the refusal stops
        // the run.
        if (index != 0) {
            rows()[0].Selected = true;
            rows()[0].FirmwareFile = goodFile(0);
        }
    }
    static std::string readAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    Procedure procedure;
    UsbRig rig;
    sim::HidBootloaderDevice usb{"USB-SW", "SN1"};
    ScriptPeer nobody;  // hears what it is sent, answers nothing
};

TEST(RefusedRun, NothingReachesTheDeviceWhateverRefusesTheFileAndWhicheverProcedureRuns) {
    const struct {
        Refusal refusal;
        const char* says;  // in the warning box
        std::vector<Procedure> procedures;
    } cases[] = {
        {Refusal::BadRecord,
         "Upgrade failed: Invalid checksum",
         {Procedure::Panel, Procedure::MatrixCpu, Procedure::SerialCard, Procedure::Transmitter,
          Procedure::Usb}},
        {Refusal::WrongType,
         " Invalid controller type info for ",
         {Procedure::Panel, Procedure::MatrixCpu, Procedure::SerialCard}},
        {Refusal::WrongType, "Upgrade failed: Device type missmatch", {Procedure::Usb}},
        {Refusal::WrongHardware,
         " Invalid hardware info for ",
         {Procedure::Panel, Procedure::MatrixCpu, Procedure::SerialCard}},
        {Refusal::FileGone,
         "Upgrade failed: Invalid checksum",
         {Procedure::Panel, Procedure::MatrixCpu, Procedure::SerialCard, Procedure::Transmitter,
          Procedure::Usb}},
        {Refusal::NoFile,
         " Please select file for ",
         {Procedure::Panel, Procedure::MatrixCpu, Procedure::SerialCard, Procedure::Transmitter,
          Procedure::Usb}},
        {Refusal::ImageGone,
         "Upgrade failed: Cannot open file \"gone.rom\"",
         {Procedure::Panel, Procedure::MatrixCpu}},
    };
    for (const auto& c : cases) {
        for (Procedure p : c.procedures) {
            SCOPED_TRACE(std::string(NameOf(c.refusal)) + " / " + NameOf(p));
            Device d(p);
            d.choose(c.refusal);
            const std::size_t sentBefore = d.rig.sentCount();
            d.rig.ui.dialogs.clear();
            d.rig.ui.answers = {MsgButton::Yes};
            RunUpgrade(d.rig.ctx);
            const RunResult& run = upgradeState(d.rig.ctx).lastRun;
            EXPECT_EQ(run.end, RunEnd::Refused);
            EXPECT_EQ(run.refusal.rfind(kWarningStart, 0), 0u) << run.refusal;
            EXPECT_NE(run.refusal.find(c.says), std::string::npos) << run.refusal;
            EXPECT_EQ(d.rig.sentCount(), sentBefore);
            // The warning box ends the run: no report.
            EXPECT_EQ(d.rig.ui.dialogs.back().text, run.refusal);
            EXPECT_TRUE(d.rig.ui.dialogsOf(ScriptedUi::Dialog::Report).empty());
            // The choice stays for the next attempt.
            EXPECT_TRUE(d.rows()[d.subject(c.refusal)].Selected);
        }
    }
}

}  // namespace
}  // namespace kv::test
