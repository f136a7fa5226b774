#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "FakeRig.h"
#include "NetworkModule.h"
#include "Stm32Bootloader.h"
#include "StmTestSupport.h"
#include "TftpReceiver.h"
#include "core/ports/ChannelError.h"
#include "device/ChannelEvents.h"
#include "flash/TftpPackets.h"
#include "upgrade/RestoreDevice.h"
#include "upgrade/UpgradeProcedures.h"
#include "upgrade/UpgradeState.h"

namespace kv::test {
namespace {

using Dialog = ScriptedUi::Dialog;
using namespace std::chrono_literals;

TControllerRec row(const std::string& type, bool selected = false, const std::string& file = "") {
    TControllerRec c;
    c.ControllerType = type;
    c.Selected = selected;
    c.FirmwareFile = file;
    return c;
}

std::string writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

// A network device behind a simulated module at 127.0.0.2, with its TFTP receiver.
class NetworkUpgrade : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterChannelEvents(rig.ctx);
        sim::NetworkModule::Config config;
        config.address = "127.0.0.2";
        module = std::make_unique<sim::NetworkModule>(config);
        module->attach(rig.world);
        rig.world.bindUdp("127.0.0.2", 69, &tftp);
        TMatrixRec& device = rig.addDevice("127.0.0.2", 10001);
        device.MAC = "00-20-4A-01-02-03";
        rig.state.CurrentIP = "127.0.0.2";
        rig.state.ConnectionKind = ConnectionKind::Network;
        rig.ports.TcpClient1->setHost("127.0.0.2");
        rig.ports.TcpClient1->setPort(10001);
    }
    std::vector<TControllerRec>& rows() { return rig.state.DeviceList.back().Controllers; }
    std::vector<Dialog> reports() const { return rig.ui.dialogsOf(Dialog::Report); }

    FakeRig rig;
    std::unique_ptr<sim::NetworkModule> module;
    sim::TftpReceiver tftp;
};

TEST_F(NetworkUpgrade, NothingSelectedOnlyTellsTheOperator) {
    rows() = {row("CARD-A"), row("Web Server")};
    UpgradeNetworkDevice(rig.ctx);
    auto messages = rig.ui.dialogsOf(Dialog::Message);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No controller selected to upgrade!");
    EXPECT_TRUE(rig.ui.dialogsOf(Dialog::Ask).empty());
}

TEST_F(NetworkUpgrade, ARunOnADeviceWithoutRowsStillResetsTheRunState) {
    // A HEX file read earlier would otherwise let the close query skip the device recovery.
    rows().clear();
    rig.state.HexFileOpened = true;
    rig.state.TrailingRowCount = 1;
    UpgradeNetworkDevice(rig.ctx);
    auto messages = rig.ui.dialogsOf(Dialog::Message);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "No controller selected to upgrade!");
    EXPECT_FALSE(rig.state.HexFileOpened);
    EXPECT_EQ(rig.state.TrailingRowCount, 2);
    EXPECT_TRUE(rig.ui.dialogsOf(Dialog::Ask).empty());
}

TEST_F(NetworkUpgrade, CancelAtTheQuestionSendsNothing) {
    rows() = {row("RV-PNL16"), row("Web Server", true, writeFile(rig.folder / "a.rom", "x"))};
    rig.ui.answers.push_back(MsgButton::Cancel);
    UpgradeNetworkDevice(rig.ctx);
    auto asks = rig.ui.dialogsOf(Dialog::Ask);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].text, "Do you really want to upgrade?");
    EXPECT_EQ(asks[0].focused, MsgButton::Cancel);
    EXPECT_EQ(tftp.requests, 0);
}

TEST_F(NetworkUpgrade, ValidationCollectsEveryProblemIntoOneBoxAndSendsNothing) {
    std::string bad = writeFile(rig.folder / "b.hex", ":0400000001020304F1\r\n:00000001FF\r\n");
    rows() = {row("CARD-A", true), row("CARD-B", true, bad), row("Web Server"), row("Web Content")};
    rig.ui.answers.push_back(MsgButton::Yes);
    UpgradeNetworkDevice(rig.ctx);
    auto messages = rig.ui.dialogsOf(Dialog::Message);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text.rfind("WARNING!\n\r Please select file for CARD-A\n\r"
                                         "Upgrade failed: Invalid checksum\n\r",
                                         0),
              0u)
        << messages.back().text;
    EXPECT_TRUE(rig.gpioClient.sent.empty());
    EXPECT_TRUE(rig.tcp1.sent.empty());
    EXPECT_TRUE(rows()[1].Selected);  // selections and files stay for the next attempt
    EXPECT_EQ(rows()[1].FirmwareFile, bad);
    EXPECT_TRUE(reports().empty());
}

TEST_F(NetworkUpgrade, PanelWebServerImageGoesByTftpAndTheRowIsReportedAndCleared) {
    std::string image(1000, 'w');
    rig.state.DeviceList.back().MAC =
        "00-80-A3-01-02-03";  // second octet 8x: the second image kind
    rows() = {row("RV-PNL16"), row("Web Server", true, writeFile(rig.folder / "a.ro5", image))};
    rig.state.gridCells = {{"RV-PNL16"}, {"Web Server", "", "", "", "a.ro5"}};
    rig.ui.answers.push_back(MsgButton::Yes);
    UpgradeNetworkDevice(rig.ctx);

    ASSERT_TRUE(tftp.image(TftpRemoteName(kTftpKindWebServerSecond)));
    EXPECT_EQ(*tftp.image(TftpRemoteName(kTftpKindWebServerSecond)),
              Bytes(image.begin(), image.end()));
    auto shown = reports();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              "UPGRADE PROCEDURE REPORT\r\n-------------------------------\r\n\r\n"
              "Web Server...OK\r\n-------------------------------\r\n"
              "Total retransmissions:0\r\nTotal rewrites:0\r\nUpgrade successful");
    EXPECT_FALSE(rows()[1].Selected);
    EXPECT_EQ(rows()[1].FirmwareFile, "");
    // The report reaches the log in one piece; the device went back to 9600 baud with the
    // main controller selected.
    auto log = rig.logLines();
    EXPECT_NE(std::find(log.begin(), log.end(), "Web Server...OK"), log.end());
    EXPECT_EQ(module->gpio().selectCode(), 7);
    EXPECT_EQ(rig.ui.grid.size(), 1u);
}

TEST_F(NetworkUpgrade, SilentTftpServerFailsTheRowAndTheVerdict) {
    tftp.mode = sim::TftpReceiver::Mode::Silent;
    rows() = {row("RV-PNL16"), row("Web Server", true, writeFile(rig.folder / "a.rom", "abc"))};
    rig.ui.answers.push_back(MsgButton::Yes);
    UpgradeNetworkDevice(rig.ctx);
    auto shown = reports();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("Web Server...FAILED"), std::string::npos);
    EXPECT_NE(shown[0].text.find("Upgrade FAILED"), std::string::npos);
    EXPECT_FALSE(rows()[1].Selected);  // attempted rows are cleared even when they failed
}

TEST_F(NetworkUpgrade, CloseQueryAsksWithCancelAsDefaultAndKeepsTheWindowOnCancel) {
    rig.ui.answers.push_back(MsgButton::Cancel);
    EXPECT_FALSE(CloseProgram(rig.ctx));
    EXPECT_TRUE(rig.log.isOpen());
    rig.state.CurrentIP = "0.0.0.0";
    rig.ui.answers.push_back(MsgButton::Yes);
    EXPECT_TRUE(CloseProgram(rig.ctx));
    EXPECT_FALSE(rig.log.isOpen());
}

TEST_F(NetworkUpgrade, CloseQueryWithAnUnreachableDeviceAndCancelStaysOpen) {
    rig.world.stopListening("127.0.0.2", 10001);
    rows() = {row("CARD-A")};
    rig.ui.answers = {MsgButton::Yes, MsgButton::Cancel};
    EXPECT_FALSE(CloseProgram(rig.ctx));
    auto asks = rig.ui.dialogsOf(Dialog::Ask);
    ASSERT_EQ(asks.size(), 2u);
    EXPECT_EQ(
        asks[1].text.rfind("The selected device is unreachable!\n\rDo you want to continue?", 0),
        0u);
    EXPECT_TRUE(rig.log.isOpen());
}

// A twisted-pair transmitter on COM3: STM32 bootloader on the serial line.
class SerialUpgrade : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterChannelEvents(rig.ctx);
        config.line = {115200, Parity::Even};
        chip = std::make_unique<sim::Stm32Bootloader>(config);
        TMatrixRec& device = rig.addSerialDevice(chip.get());
        device.Controllers = {row("NRV-TW-SN500S", true)};
        rig.state.TpTransmitterMode = true;
    }
    FakeRig rig;
    sim::Stm32Bootloader::Config config;
    std::unique_ptr<sim::Stm32Bootloader> chip;
};

TEST_F(SerialUpgrade, ProgramsTheChipOverTheLineAndLeavesItsFlashEqualToTheFile) {
    std::vector<HexSegment> segments{{0x08000000, pattern(1000, 3)}};
    rig.state.DeviceList.back().Controllers[0].FirmwareFile =
        writeFile(rig.folder / "tx.hex", makeHex(segments));
    rig.ui.answers.push_back(MsgButton::Yes);
    RunUpgrade(rig.ctx);

    auto flash = chip->memory().read(0x08000000, 128 * 1024);
    ASSERT_TRUE(flash);
    EXPECT_EQ(*flash, flashImage(segments));
    EXPECT_EQ(rig.com1.baud(), 115200);
    EXPECT_EQ(rig.com1.parity(), Parity::Even);
    auto shown = rig.ui.dialogsOf(Dialog::Report);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("Upgrade successful"), std::string::npos);
    EXPECT_TRUE(rig.ui.enabled(UiElement::Upgrade));
    EXPECT_TRUE(rig.com1.sent.size() > 3);
    EXPECT_EQ(toText(rig.com1.sent.front()), std::string(1, '\x7F'));  // no {P_PRGRQST}
}

// A file the checks refuse makes the device leave nothing: not even the programming
// request goes out.
TEST_F(SerialUpgrade, ARefusedFileSendsNothingToTheDevice) {
    rig.state.TpTransmitterMode = false;
    std::string spoiled = makeHex({{0x08000000, pattern(64)}});
    char& sum = spoiled[spoiled.find('\r') - 1];  // the first record's checksum
    sum = sum == '0' ? '1' : '0';
    struct Case {
        const char* name;
        std::string file;  // empty: no file chosen
        const char* refusal;
    };
    const Case cases[] = {
        {"bad record", writeFile(rig.folder / "bad.hex", spoiled),
         "Upgrade failed: Invalid checksum"},
        {"file gone", (rig.folder / "gone.hex").string(), "Upgrade failed: Invalid checksum"},
        {"no file", "", " Please select file for NRV-TW-SN500S"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.com1.sent.clear();
        auto& only = rig.state.DeviceList.back().Controllers[0];
        only.Selected = true;
        only.FirmwareFile = c.file;
        rig.ui.answers = {MsgButton::Yes};
        UpgradeSerialDevice(rig.ctx);
        EXPECT_TRUE(rig.com1.sent.empty());
        const RunResult& run = upgradeState(rig.ctx).lastRun;
        EXPECT_EQ(run.end, RunEnd::Refused);
        EXPECT_NE(run.refusal.find(c.refusal), std::string::npos) << run.refusal;
    }
}

TEST_F(SerialUpgrade, AFailedProgrammingRunIsNotReportedAsSuccess) {
    chip->faults.nackWriteFrom = 1;
    chip->faults.nackWriteCount = 1000;
    rig.state.DeviceList.back().Controllers[0].FirmwareFile =
        writeFile(rig.folder / "tx.hex", makeHex({{0x08000000, pattern(64)}}));
    rig.ui.answers.push_back(MsgButton::Yes);
    RunUpgrade(rig.ctx);
    auto shown = rig.ui.dialogsOf(Dialog::Report);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("Upgrade FAILED"), std::string::npos);
}

// Also a programming request the device refuses ends through the run's normal end.
TEST_F(SerialUpgrade, SilentBootloaderFailsTheRowAndStillEndsTheRunWithTheReport) {
    rig.world.detachSerial("COM3");
    struct Refuser : sim::StreamPeer {
        Bytes receive(ByteView) override { return {0x1F}; }
    } refuser;
    rig.world.attachSerial("COM3", &refuser);
    const std::string file = writeFile(rig.folder / "tx.hex", makeHex({{0x08000000, pattern(16)}}));
    const struct {
        const char* name;
        bool transmitterMode;
        bool portLost;  // the port closed under the run: the request cannot go out
        const char* error;
    } cases[] = {
        {"transmitter mode", true, false, "There is no response from the bootloader."},
        {"programming request refused", false, false, "There is no response from the bootloader."},
        {"port lost before the request", false, true, "Com port COM3 is not open"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.ui.dialogs.clear();
        rig.state.TpTransmitterMode = c.transmitterMode;
        rig.state.DeviceList.back().Controllers[0] = row("NRV-TW-SN500S", true, file);
        if (c.portLost) rig.com1.close();
        rig.ui.answers = {MsgButton::Yes};
        RunUpgrade(rig.ctx);
        auto errors = rig.ui.dialogsOf(Dialog::Error);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].text, c.error);
        auto shown = rig.ui.dialogsOf(Dialog::Report);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_NE(shown[0].text.find("Upgrade FAILED"), std::string::npos);
        EXPECT_TRUE(rig.ui.enabled(UiElement::Upgrade));
        // The run's result says which row failed and why.
        const RunResult& run = upgradeState(rig.ctx).lastRun;
        EXPECT_EQ(run.end, RunEnd::Completed);
        ASSERT_EQ(run.rows.size(), 1u);
        EXPECT_EQ(run.rows[0].state, RowState::Failed);
        EXPECT_EQ(run.rows[0].reason, c.error);
        rig.com1.open();
    }
}

}  // namespace
}  // namespace kv::test
