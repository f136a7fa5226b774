// Branches of the upgrade procedures the fault campaign does not choose among: the
// file checks and their tolerances, the count of image rows, and the ways a device is
// returned to normal operation after a run and when the program closes.
#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "FakeRig.h"
#include "NetworkModule.h"
#include "PicBootloader.h"
#include "StmTestSupport.h"
#include "device/ChannelEvents.h"
#include "device/Channels.h"
#include "module/ModuleOperations.h"
#include "upgrade/RestoreDevice.h"
#include "upgrade/UpgradeProcedures.h"
#include "upgrade/UpgradeState.h"

namespace kv::test {
namespace {

using Dialog = ScriptedUi::Dialog;
using namespace std::chrono_literals;

const std::string kIp = "127.0.0.2";

// A network device behind a simulated module; the tunnel reaches `device` when set.
struct Device {
    explicit Device(const std::string& firstRow, int fwNumber = 312) {
        RegisterChannelEvents(rig.ctx);
        module.attach(rig.world);
        rig.addDevice(kIp, 10001).Controllers = {row(firstRow), row("Web Server")};
        rig.state.CurrentIP = kIp;
        rig.state.ConnectionKind = ConnectionKind::Network;
        rig.state.DeviceFwNumber = fwNumber;
        rig.ports.TcpClient1->setHost(kIp);
        rig.ports.TcpClient1->setPort(10001);
    }
    static TControllerRec row(const std::string& type, const std::string& file = "",
                              const std::string& hw = "") {
        TControllerRec c;
        c.ControllerType = type;
        c.Selected = !file.empty();
        c.FirmwareFile = file;
        c.HardwareVersion = hw;
        return c;
    }
    std::vector<TControllerRec>& rows() { return rig.state.DeviceList.back().Controllers; }
    bool asked(const std::string& start) const {
        for (const auto& d : rig.ui.dialogsOf(Dialog::Ask))
            if (d.text.rfind(start, 0) == 0) return true;
        return false;
    }
    bool shown(const std::string& line) const {
        return std::find(rig.ui.memo.begin(), rig.ui.memo.end(), line) != rig.ui.memo.end();
    }
    FakeRig rig;
    // The set-up record holds the card speed, as a run leaves it.
    sim::NetworkModule module{[] {
        sim::NetworkModule::Config config;
        config.serialLine = {19200, Parity::None};
        return config;
    }()};
};

TEST(UpgradeBranches, FileChecksTellEveryMismatchAndTolerateTheDocumentedDifferences) {
    struct Case {
        const char* rowType;
        const char* rowHw;
        const char* fileType;
        const char* fileHw;
        bool spoiled;         // the last record's checksum is wrong
        const char* warning;  // the message after "WARNING!\n\r"; empty: the file passes
    };
    const Case cases[] = {
        {"CARD-A1", "HW:1.0", "CARD-A1", "HW:1.0", false, ""},
        {"CARD-A1", "HW:1.0", "CARD-A", "HW:1.0", false, ""},  // type without its last letter
        {"CARD-A1", "HW:1.0", "CARD-B1", "HW:1.0", false,
         " Invalid controller type info for CARD-A1 (CARD-B1)\n\r"},
        {"CARD-A1", "HW:1.0", "CARD-A1", "HW:1.0-rev2", false, ""},  // same first five
        {"CARD-A1", "HW:1.0", "CARD-A1", "HW:2.0", false,
         " Invalid hardware info for CARD-A1 (HW:2.0)\n\r"},
        {"CARD-A1", "HW:1.0", "CARD-A1", "HW:1.0", true, "Upgrade failed: Invalid checksum\n\r"},
        // CPU rows get the integrity check only: their files carry no type information.
        {"RV-CTL2", "n/a", "OTHER", "HW:9", false, ""},
        {"RV-CTL2", "n/a", "OTHER", "HW:9", true, "Upgrade failed: Invalid checksum\n\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rowType) + " / " + c.fileType + " / " + c.fileHw);
        Device d(c.rowType);
        std::string text = sim::HexRecordLine(0, 0x0600, textBytes(c.fileType, 32)) + "\r\n" +
                           sim::HexRecordLine(0, 0x0710, textBytes(c.fileHw, 16)) + "\r\n" +
                           sim::HexRecordLine(1, 0, {}) + "\r\n";
        if (c.spoiled) text[text.size() - 3] ^= 1;  // the end record's checksum
        const std::string path = (d.rig.folder / "a.hex").string();
        writeFile(path, text);
        d.rows() = {Device::row(c.rowType, path, c.rowHw), Device::row("Web Server"),
                    Device::row("Web Content")};
        d.rig.ui.answers.push_back(MsgButton::Yes);
        // Only the check is of interest: a file that passes meets a device without cards.
        d.rig.state.DeviceFwNumber = 100;
        UpgradeNetworkDevice(d.rig.ctx);
        std::string warning;
        for (const auto& m : d.rig.ui.dialogsOf(Dialog::Message))
            if (m.text.rfind("WARNING!\n\r", 0) == 0) warning = m.text.substr(10);
        EXPECT_EQ(warning, c.warning);
    }
}

TEST(UpgradeBranches, ImageRowCountFollowsTheFirstRowAndTheDirectSetUp) {
    struct Case {
        const char* first;
        bool directMatrix, directModular;
        int trailing;
    };
    const Case cases[] = {{"RV-CTL2", false, false, 1},  {"RV-CTL2", true, false, 2},
                          {"RV-CTL2", false, true, 2},   {"RV-PNL16", false, false, 1},
                          {"RV-PNL32", false, false, 1}, {"NRV-CTL", false, false, 2},
                          {"RV-BTN16", false, false, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        Device d(c.first);
        d.rig.state.DirectSetupMatrix = c.directMatrix;
        d.rig.state.DirectSetupModular = c.directModular;
        UpgradeNetworkDevice(d.rig.ctx);  // nothing selected: only the run state is set
        EXPECT_EQ(d.rig.state.TrailingRowCount, c.trailing);
    }
}

// After a run and at closing, the device goes back to normal operation the way its kind
// needs, also when its tunnel cannot be reached.
TEST(UpgradeBranches, DeviceIsReturnedToNormalOperationByItsKind) {
    enum class Via { Restore, Close };
    struct Case {
        const char* name;
        Via via;
        const char* first;
        int fwNumber;
        bool direct;
        bool reachable;
        sim::LineSettings line;  // the module's serial line afterwards
        int selectCode;          // the lines the device sees afterwards
        bool recovering;         // "Recovering from bootload mode ..." shown
        bool asksUnreachable;
        std::chrono::milliseconds atLeast;  // waited
    };
    const sim::LineSettings k9600{9600, Parity::None}, k57600{57600, Parity::None};
    const sim::LineSettings k19200{19200, Parity::None};  // the record left alone
    const Case cases[] = {
        {"card device", Via::Restore, "RV-PNL16", 140, false, true, k9600, 7, false, false, 11s},
        // The direct set-up changes the record only.
        {"direct matrix", Via::Restore, "RV-CTL2", 312, true, true, k57600, 2, false, false, 0s},
        {"modular CPU", Via::Restore, "NRV-CTL", 201, false, true, k57600, 4, false, false, 0s},
        {"matrix CPU", Via::Restore, "RV-CTL2", 312, false, true, k19200, 7, true, false, 0s},
        {"unreachable card device", Via::Restore, "RV-PNL16", 140, false, false, k9600, 7, false,
         true, 0s},
        {"unreachable matrix", Via::Restore, "RV-CTL2", 312, false, false, k19200, 2, false, true,
         0s},
        {"unreachable modular", Via::Restore, "NRV-CTL", 312, false, false, k57600, 4, false, true,
         0s},
        {"close: card device", Via::Close, "RV-PNL16", 140, false, true, k9600, 7, false, false,
         11s},
        {"close: direct matrix", Via::Close, "RV-CTL2", 312, true, true, k57600, 2, false, false,
         0s},
        {"close: matrix CPU", Via::Close, "RV-CTL2", 312, false, true, k19200, 7, true, false, 0s},
        {"close: unreachable matrix, Yes", Via::Close, "RV-CTL2", 312, false, false, k19200, 7,
         true, true, 0s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Device d(c.first, c.fwNumber);
        d.rig.state.DirectSetupMatrix = c.direct;
        if (!c.reachable) d.rig.world.stopListening(kIp, 10001);
        // The device as a run may leave it: a card selected, a matrix CPU's module in
        // bootloader mode.
        d.module.gpio().setStates(0x02);
        if (std::string(c.first) == "RV-CTL2" && !c.direct) enter_BL_mode(d.rig.ctx, kIp, 19200, 0);
        d.rig.ui.memo.clear();
        d.rig.ui.answers = {MsgButton::Yes, MsgButton::Yes};
        const auto start = d.rig.clock.elapsed();
        if (c.via == Via::Restore) {
            RestoreDeviceAfterUpgrade(d.rig.ctx);
        } else {
            EXPECT_TRUE(CloseProgram(d.rig.ctx));
        }
        EXPECT_EQ(d.module.serialLine(), c.line);
        EXPECT_EQ(d.module.gpio().selectCode(), c.selectCode);
        EXPECT_FALSE(d.module.gpio().bootloaderMode());
        EXPECT_EQ(d.shown("Recovering from bootload mode and starting firmware"), c.recovering);
        EXPECT_EQ(d.asked("The selected device is unreachable!"), c.asksUnreachable);
        EXPECT_GE(d.rig.clock.elapsed() - start, c.atLeast);
        EXPECT_FALSE(d.rig.ports.TcpClient1->connected());
    }
}

// The close restores a device whenever something switched it over since its last
// restore: a run refused by its file checks reads the file but restores nothing, so the
// close must; after a run that restored the device the close leaves it alone.
TEST(UpgradeBranches, CloseRestoresWhatNoRunRestored) {
    struct Case {
        const char* name;
        const char* fileType;
        bool spoiled;
        bool runRestores;  // the run ends with the device's restore
    };
    const Case cases[] = {
        {"bad checksum", "RV-PNL16", true, false},
        {"wrong controller type", "RV-BTN16", false, false},
        {"run ended with the restore", "RV-PNL16", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Device d("RV-PNL16", 140);
        // As the connect and the card query leave a card device: the module at the cards'
        // speed, the last card queried on the select lines.
        d.module.gpio().setStates(6);
        std::string text = sim::HexRecordLine(0, 0x0600, textBytes(c.fileType, 32)) + "\r\n" +
                           sim::HexRecordLine(1, 0, {}) + "\r\n";
        if (c.spoiled) text[text.size() - 3] ^= 1;
        const std::string path = (d.rig.folder / "a.hex").string();
        writeFile(path, text);
        d.rows() = {Device::row("RV-PNL16", path), Device::row("Web Server")};
        d.rig.ui.answers = {MsgButton::Yes};
        if (c.runRestores) {
            RestoreDeviceAfterUpgrade(d.rig.ctx);
        } else {
            UpgradeNetworkDevice(d.rig.ctx);
            ASSERT_EQ(upgradeState(d.rig.ctx).lastRun.end, RunEnd::Refused);
        }
        d.rig.ui.answers = {MsgButton::Yes};
        const auto start = d.rig.clock.elapsed();
        EXPECT_TRUE(CloseProgram(d.rig.ctx));
        EXPECT_EQ(d.module.serialLine(), (sim::LineSettings{9600, Parity::None}));
        EXPECT_EQ(d.module.gpio().selectCode(), 7);
        // The card release waits its rounds; a close with nothing to restore does not.
        EXPECT_EQ(d.rig.clock.elapsed() - start >= 11s, !c.runRestores);
    }
}

TEST(UpgradeBranches, FibreLinkCardGetsItsEepromFlagClearedOnTheWayOut) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "restore");
        Device d("QB2LNK-MAX", 140);
        sim::PicBootloader::Config config;
        config.expectedLine = config.initialLine = {19200, Parity::None};
        sim::PicBootloader card(config);
        d.module.setSerialDevice(&card);
        ASSERT_TRUE(Connect(*d.rig.ports.TcpClient1));
        d.rig.ui.answers = {MsgButton::Yes};
        if (close) {
            EXPECT_TRUE(CloseProgram(d.rig.ctx));
        } else {
            RestoreDeviceAfterUpgrade(d.rig.ctx);
        }
        EXPECT_EQ(card.counters.eepromWrites, 1);
        EXPECT_EQ(card.eeprom()[1023], 0x00);
    }
}

}  // namespace
}  // namespace kv::test
