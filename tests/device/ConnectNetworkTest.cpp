// Opening a network device from the list: identification, the family decisions, the
// module's serial setting and the inventory the family gets, against the simulated
// families on virtual time.
#include <gtest/gtest.h>

#include "ConnectRig.h"
#include "device/Connect.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::ConnectRig;
using Row = std::array<std::string, 5>;
using Dialog = test::ScriptedUi::Dialog;
using sim::DemoFamily;
using sim::LineSettings;

const LineSettings k19200{19200, Parity::None};
const LineSettings k9600{9600, Parity::None};

bool heard(const sim::TextDevice& device, const std::string& command) {
    return std::count(device.commands.begin(), device.commands.end(), command) > 0;
}

// Records when the tool's first bytes reach a module's tunnel.
class TimedTunnel : public sim::StreamPeer {
  public:
    TimedTunnel(sim::NetworkModule& module, test::VirtualClock& clock,
                std::vector<std::chrono::milliseconds>& times)
        : module_(module), clock_(clock), times_(times) {}
    Bytes receive(ByteView data) override {
        times_.push_back(clock_.elapsed());
        return module_.tunnelReceive(data);
    }

  private:
    sim::NetworkModule& module_;
    test::VirtualClock& clock_;
    std::vector<std::chrono::milliseconds>& times_;
};

TEST(ConnectNetwork, MatrixFrameListsCardsByWalkNumberAndOneWebPackageRow) {
    ConnectRig t(DemoFamily::Matrix);
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);

    const SharedState& s = t.rig.state;
    EXPECT_EQ(t.rig.ui.properties.name, "I:RV-FS64S");
    EXPECT_EQ(t.rig.ui.properties.serial, "S:KV1000");
    EXPECT_EQ(t.rig.ui.properties.ip, "127.0.0.2");
    EXPECT_EQ(t.rig.ui.properties.mac, "00-20-4A-9B-0C-11");
    EXPECT_EQ(s.CurrentIP, "127.0.0.2");
    EXPECT_EQ(s.ConnectionKind, ConnectionKind::Network);
    EXPECT_EQ(s.DeviceFwNumber, 312);
    EXPECT_FALSE(s.DirectSetupMatrix);
    EXPECT_EQ(t.device().FwNumber, 312);
    EXPECT_EQ(t.device().Ident, "(I:RV-FS64S)");
    // Above 300 the module's versions come from the device.
    EXPECT_EQ(t.device().LanVersion, "1.0.4");
    EXPECT_EQ(t.device().ModuleVersion, "6.8.0");
    EXPECT_EQ(t.controller().commands,
              (std::vector<std::string>{"{P_?}", "{I}", "{S}", "{F}", "{LAN_VER=?}"}));

    // Cards answer at walk numbers 2 and 5; the aggregation card at 3 is left out.
    EXPECT_EQ(t.grid(), (std::vector<Row>{{"RV-CTL2", "n/a", "", "3.1.2", ""},
                                          {"RV-IN4 2", "HW:1.0", "BL:1.0", "FW:2.1.3", ""},
                                          {"RV-OUT4 5", "HW:1.1", "BL:1.0", "FW:2.0.7", ""},
                                          {"Web Package", "", "", "S:6.8.0 W:1.0.4", ""}}));
    EXPECT_EQ(t.cardAddresses(), (std::vector<int>{0, 3, 6, 0}));
    EXPECT_EQ(t.card(2).identRequests, 1);
    EXPECT_EQ(s.TrailingRowCount, 1);
    EXPECT_TRUE(t.devices.webServers[0]->requests.empty());

    // The cards were reached through the module's bootloader mode at 19200 bit/s.
    EXPECT_TRUE(t.module().gpio().bootloaderMode());
    EXPECT_EQ(t.module().serialLine(), k19200);
    EXPECT_TRUE(t.module().storedRecords.empty());
    EXPECT_FALSE(t.rig.tcp1.connected());

    EXPECT_TRUE(t.rig.ui.enabled(UiElement::Grids));
    EXPECT_TRUE(t.rig.ui.enabled(UiElement::Upgrade));
    EXPECT_FALSE(t.rig.ui.busyShown);
    EXPECT_EQ(t.logCount("Controller type: RV-OUT4  HW: HW:1.1  Bootloader: BL:1.0  FW: FW:2.0.7"),
              1u);
    EXPECT_EQ(t.logCount("Matrix type: I:RV-FS64S"), 1u);
    EXPECT_EQ(t.logCount(std::string(54, '-')), 1u);
    const auto asks = t.rig.ui.dialogsOf(Dialog::Ask);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].text, "Do you want to establish connenction with the device?");
    EXPECT_EQ(asks[0].focused, MsgButton::No);
    EXPECT_TRUE(t.rig.ui.dialogsOf(Dialog::Message).empty());
}

TEST(ConnectNetwork, DirectMatrixKeepsItsFirmwareInTheRecordAndGetsTheDirectSetUp) {
    ConnectRig t(DemoFamily::DirectMatrix);
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);

    const SharedState& s = t.rig.state;
    EXPECT_EQ(t.device().FwNumber, 123);
    EXPECT_EQ(s.DeviceFwNumber, 423);
    EXPECT_TRUE(s.DirectSetupMatrix);
    // 123 is not above 300: the module's versions are not asked for.
    EXPECT_FALSE(heard(t.controller(), "{LAN_VER=?}"));
    EXPECT_EQ(t.grid(), (std::vector<Row>{{"RV6X6-2WQRI", "n/a", "", "1.2.3", ""},
                                          {"RV-IN6 1", "HW:1.0", "BL:1.0", "FW:1.0.9", ""},
                                          {"PSV_AGG 7", "HW:1.0", "BL:1.0", "FW:1.0.2", ""},
                                          {"Web Server", "", "", "FW:6.11.0", ""},
                                          {"Web Content", "", "", "FW:1.0.4", ""}}));
    EXPECT_EQ(t.cardAddresses(), (std::vector<int>{0, 2, 0, 0, 0}));
    EXPECT_EQ(s.TrailingRowCount, 2);
    EXPECT_EQ(t.device().LanVersion, "1.0.4");
    ASSERT_EQ(t.devices.webServers[0]->requests.size(), 1u);
    // The serial channel is set directly, never through the bootloader-mode command.
    EXPECT_FALSE(t.module().gpio().bootloaderMode());
    EXPECT_EQ(t.module().serialLine(), k19200);
    EXPECT_EQ(t.module().storedRecords.size(), 1u);
}

TEST(ConnectNetwork, ModularFrameFindsItsIoCardAfterTheDataPulse) {
    ConnectRig t(DemoFamily::Modular);
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);

    EXPECT_EQ(t.grid(), (std::vector<Row>{{"NRV-CTL", "n/a", "", "2.0.1", ""},
                                          {"NRV-IO8 1", "HW:2.0", "BL:1.1", "FW:1.3.0", ""},
                                          {"Web Server", "", "", "FW:6.11.0", ""},
                                          {"Web Content", "", "", "FW:1.0.4", ""}}));
    EXPECT_EQ(t.cardAddresses(), (std::vector<int>{0, 2, 0, 0}));
    EXPECT_EQ(t.devices.cardSelects[0]->pulses, 1);
    EXPECT_EQ(t.module().serialLine(), k19200);
    EXPECT_EQ(t.rig.state.TrailingRowCount, 2);
    EXPECT_EQ(t.logCount("Query Card (2)"), 1u);
}

TEST(ConnectNetwork, PanelListsItsSlotsAndOnlyTheWebServerRow) {
    ConnectRig t(DemoFamily::Panel);
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);

    EXPECT_EQ(t.grid(), (std::vector<Row>{{"RV-PNL16", "HW:1.0", "BL:1.0", "FW:1.4.0", ""},
                                          {"RV-BTN16", "HW:1.2", "BL:1.0", "FW:1.0.5", ""},
                                          {"Web Server", "", "", "FW:6.11.0", ""}}));
    EXPECT_EQ(t.cardAddresses(), (std::vector<int>{1, 3, 0}));
    EXPECT_TRUE(t.devices.webServers[0]->requests.empty());
    EXPECT_EQ(t.module().serialLine(), k19200);
    // After the walk the lines are left on code 6.
    EXPECT_EQ(t.module().gpio().selectCode(), 6);
}

TEST(ConnectNetwork, IdentificationTableDecidesSetUpAndInventory) {
    struct Case {
        const char* ident;
        const char* firmware;
        bool setup19200;
        const char* firstRow;  // "" when the slot walk found nothing
    };
    const Case cases[] = {
        // With its closing bracket this is no modular tag: firmware decides.
        {"(I:NRV5x5-Max)", "(FW:1.2.0)", true, "Web Server"},
        {"(I:NRV5x5-Max)", "(FW:3.1.2)", false, "RV-CTL2"},
        {"(I:NRV5x5-Max", "(FW:3.1.2)", true, "RV-CTL2"},
        {"(I:NRV5x5-Max2)", "(FW:3.1.2)", true, "NRV-CTL"},
        {"(I:RV-FS64S)", "(FW: 3.0.0)", false, "RV-CTL2"},
        {"(I:RV-FS64S)", "(FW:2.9.9)", true, "Web Server"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ident) + " " + c.firmware);
        ConnectRig t(DemoFamily::Matrix);
        t.controller().config.ident = c.ident;
        t.controller().config.firmware = c.firmware;
        t.yes();
        ConnectNetworkDevice(t.rig.ctx, 0);
        EXPECT_EQ(t.module().storedRecords.size(), c.setup19200 ? 1u : 0u);
        ASSERT_FALSE(t.grid().empty());
        EXPECT_EQ(t.grid()[0][0], c.firstRow);
        EXPECT_FALSE(t.rig.state.DirectSetupMatrix);
    }
}

TEST(ConnectNetwork, FirmwareExactly300IsAMatrixWithoutTheVersionQuestion) {
    ConnectRig t(DemoFamily::Matrix);
    t.controller().config.firmware = "(FW:3.0.0)";
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    EXPECT_EQ(t.rig.state.DeviceFwNumber, 300);
    EXPECT_FALSE(heard(t.controller(), "{LAN_VER=?}"));
    EXPECT_EQ(t.grid().front(), (Row{"RV-CTL2", "n/a", "", "3.0.0", ""}));
    EXPECT_EQ(t.grid().back(), (Row{"Web Package", "", "", "S:6.11.0 W:", ""}));
}

TEST(ConnectNetwork, SecondProtocolStopsAfterTheOperatorsAnswer) {
    {
        SCOPED_TRACE("No");
        ConnectRig t(DemoFamily::Protocol2);
        t.rig.ui.answers = {MsgButton::Yes, MsgButton::No};
        ConnectNetworkDevice(t.rig.ctx, 0);
        EXPECT_EQ(t.controller().commands, std::vector<std::string>{"{P_?}"});
        EXPECT_EQ(t.rig.state.ProtocolNumber, 2);
        EXPECT_FALSE(t.rig.ui.busyShown);
        EXPECT_TRUE(t.rig.ui.dialogsOf(Dialog::Message).empty());
        const auto asks = t.rig.ui.dialogsOf(Dialog::Ask);
        ASSERT_EQ(asks.size(), 2u);
        EXPECT_EQ(asks[1].text,
                  "Protocol#2 is active! Do you want to switch to Korvandel protocol?");
        EXPECT_EQ(asks[1].focused, MsgButton::No);
        // The device counts as open now: another double click does nothing.
        t.yes();
        ConnectNetworkDevice(t.rig.ctx, 0);
        EXPECT_EQ(t.rig.ui.dialogs.size(), 2u);
    }
    {
        SCOPED_TRACE("Yes");
        ConnectRig t(DemoFamily::Protocol2);
        t.rig.ui.answers = {MsgButton::Yes, MsgButton::Yes};
        ConnectNetworkDevice(t.rig.ctx, 0);
        EXPECT_EQ(t.controller().commands, (std::vector<std::string>{"{P_?}", "{P_1}"}));
        EXPECT_EQ(t.dialogTexts(Dialog::Message),
                  std::vector<std::string>{"Please reconnect to the matrix!"});
        EXPECT_TRUE(t.rig.tcp1.connected());
    }
}

TEST(ConnectNetwork, ProtocolReplyWithoutADigitEndsWithTheConversionError) {
    ConnectRig t(DemoFamily::Matrix);
    t.controller().config.protocol = "(CURRENT PROTOCOL#x)";
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    EXPECT_EQ(t.dialogTexts(Dialog::Message),
              std::vector<std::string>{
                  "EConvertError error raised, with message : 'x' is not a valid integer value"});
    EXPECT_EQ(t.controller().commands, std::vector<std::string>{"{P_?}"});
    EXPECT_FALSE(t.rig.ui.busyShown);
}

TEST(ConnectNetwork, SilentDeviceIsTreatedAsAnUnknownSlotDevice) {
    ConnectRig t(DemoFamily::Silent);
    const auto start = t.rig.clock.elapsed();
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    const SharedState& s = t.rig.state;
    EXPECT_EQ(s.ProtocolReply, "(Current protocol#1)");
    EXPECT_EQ(s.IdentReply, "(Unknown device)");
    EXPECT_EQ(t.device().Serial, "N/A");
    EXPECT_EQ(t.rig.ui.properties.serial, "");
    EXPECT_EQ(s.DeviceFwNumber, 0);
    EXPECT_EQ(t.module().serialLine(), k19200);
    // No slot answered, so no panel is known: both web rows follow.
    EXPECT_EQ(t.grid(), (std::vector<Row>{{"Web Server", "", "", "FW:6.11.0", ""},
                                          {"Web Content", "", "", "FW:1.0.4", ""}}));
    EXPECT_TRUE(t.memoHas("No card found in any slot"));
    // Four questions of 4 s, 4 s of settling, six silent slots and the code-6 select.
    EXPECT_GE(t.rig.clock.elapsed() - start, 16000ms + 4000ms + 7 * 500ms + 6 * 300ms);
}

TEST(ConnectNetwork, ReleasingAPreviousDeviceBelow300RestoresItsModuleFirst) {
    ConnectRig t(DemoFamily::Panel, {"127.0.0.2", "127.0.0.3"});
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    ASSERT_EQ(t.rig.state.DeviceFwNumber, 140);
    ASSERT_EQ(t.module(0).serialLine(), k19200);

    std::vector<std::chrono::milliseconds> arrivals;
    t.rig.world.listenTcp("127.0.0.3", 10001, [&] {
        return std::make_unique<TimedTunnel>(t.module(1), t.rig.clock, arrivals);
    });
    const std::size_t before = t.module(0).gpio().messages.size();
    const auto start = t.rig.clock.elapsed();
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 1);

    // select_GPIO 0, select_GPIO 7, then the 9600 set-up on the previous module.
    const auto& messages = t.module(0).gpio().messages;
    ASSERT_EQ(messages.size(), before + 2);
    EXPECT_EQ(messages[before][5], 0x00);
    EXPECT_EQ(messages[before + 1][5], 0x07);
    EXPECT_EQ(t.module(0).serialLine(), k9600);
    ASSERT_FALSE(arrivals.empty());
    EXPECT_EQ(arrivals.front() - start, 11000ms);
    EXPECT_EQ(t.rig.state.CurrentIP, "127.0.0.3");
    EXPECT_EQ(t.rig.state.SelectedDevice, 1);
    EXPECT_EQ(t.grid().front()[0], "RV-PNL16");
}

TEST(ConnectNetwork, UnreachablePreviousDeviceIsTheOperatorsChoice) {
    ConnectRig t(DemoFamily::Panel, {"127.0.0.2", "127.0.0.3"});
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    t.rig.world.stopListening("127.0.0.2", 10001);

    t.rig.ui.answers = {MsgButton::Yes, MsgButton::Cancel};
    ConnectNetworkDevice(t.rig.ctx, 1);
    const auto asks = t.rig.ui.dialogsOf(Dialog::Ask);
    ASSERT_EQ(asks.size(), 3u);
    EXPECT_EQ(asks[2].text.substr(0, 38), "The selected device is unreachable!\n\rD");
    EXPECT_EQ(asks[2].focused, MsgButton::Cancel);
    EXPECT_EQ(t.rig.state.CurrentIP, "127.0.0.2");
    EXPECT_EQ(t.rig.state.SelectedDevice, 0);
    EXPECT_FALSE(t.rig.ui.busyShown);
    EXPECT_TRUE(t.controller(1).commands.empty());

    t.rig.ui.answers = {MsgButton::Yes, MsgButton::Yes};
    ConnectNetworkDevice(t.rig.ctx, 1);
    EXPECT_EQ(t.rig.state.CurrentIP, "127.0.0.3");
    EXPECT_EQ(t.grid().front()[0], "RV-PNL16");
}

TEST(ConnectNetwork, DoubleClickOnTheOpenDeviceChangesNothing) {
    ConnectRig t(DemoFamily::DirectMatrix);
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    const auto commands = t.controller().commands.size();
    const auto dialogs = t.rig.ui.dialogs.size();
    const auto time = t.rig.clock.elapsed();

    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    EXPECT_EQ(t.rig.ui.dialogs.size(), dialogs);
    EXPECT_EQ(t.controller().commands.size(), commands);
    EXPECT_EQ(t.rig.clock.elapsed(), time);
    EXPECT_TRUE(t.rig.state.DirectSetupMatrix);
    EXPECT_EQ(t.rig.state.DeviceFwNumber, 423);
}

TEST(ConnectNetwork, NoSelectionOrAnUnlistedEntryOpensNothing) {
    ConnectRig t(DemoFamily::Matrix);
    ConnectNetworkDevice(t.rig.ctx, -1);
    EXPECT_TRUE(t.rig.ui.dialogs.empty());

    t.rig.state.networkTree[0] = "127.0.0.9 (I:RV-FS64S)";
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    EXPECT_EQ(t.dialogTexts(Dialog::Message),
              std::vector<std::string>{"EKvError error raised, with message : The device "
                                       "127.0.0.9 is not in the device list"});
    EXPECT_EQ(t.rig.state.CurrentIP, "0.0.0.0");
    EXPECT_TRUE(t.controller().commands.empty());
}

TEST(ConnectNetwork, AnsweringNoLeavesTheOpenDeviceAsItWas) {
    ConnectRig t(DemoFamily::DirectMatrix, {"127.0.0.2", "127.0.0.3"});
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    t.rig.ui.answers = {MsgButton::No};
    ConnectNetworkDevice(t.rig.ctx, 1);
    EXPECT_TRUE(t.rig.state.DirectSetupMatrix);
    EXPECT_EQ(t.rig.state.SelectedDevice, 0);
    EXPECT_EQ(t.rig.state.CurrentIP, "127.0.0.2");
}

TEST(HandleAs, NetworkEntriesAssumeTheTypeWithoutAskingTheDevice) {
    ConnectRig t(DemoFamily::Matrix, {"127.0.0.2", "127.0.0.3"});
    t.yes();
    ConnectHandledAs(t.rig.ctx, HandleAs::RvCtl2, 0, -1);
    EXPECT_TRUE(t.controller(0).commands.empty());
    EXPECT_EQ(t.device(0).Ident, "(I:RV-FS64S)");
    EXPECT_EQ(t.device(0).FwNumber, 300);
    EXPECT_EQ(t.rig.state.DeviceFwNumber, 300);
    EXPECT_EQ(t.grid(), (std::vector<Row>{{"RV-CTL2", "n/a", "", "3.0.0", ""},
                                          {"RV-IN4 2", "HW:1.0", "BL:1.0", "FW:2.1.3", ""},
                                          {"RV-OUT4 5", "HW:1.1", "BL:1.0", "FW:2.0.7", ""},
                                          {"Web Package", "", "", "S:6.11.0 W:", ""}}));
    EXPECT_TRUE(t.rig.ui.enabled(UiElement::Upgrade));

    // The next entry takes its own type only, not the one chosen before.
    t.yes();
    ConnectHandledAs(t.rig.ctx, HandleAs::Nrv5x5, 1, -1);
    EXPECT_TRUE(t.rig.state.DirectSetupModular);
    EXPECT_EQ(t.device(1).Ident, "(I:NRV5x5-Max)");
    EXPECT_EQ(t.grid().front()[0], "NRV-CTL");
    t.yes();
    ConnectHandledAs(t.rig.ctx, HandleAs::Rv6x6Max, 0, -1);
    EXPECT_TRUE(t.rig.state.DirectSetupMatrix);
    EXPECT_FALSE(t.rig.state.DirectSetupModular);
    EXPECT_EQ(t.device(0).Ident, "(I:RV6x6-2WQRI-Max)");
    EXPECT_EQ(t.grid().front()[0], "RV6X6-2WQRI");
    EXPECT_TRUE(t.controller(0).commands.empty());
    EXPECT_TRUE(t.controller(1).commands.empty());
}

TEST(NetworkFirmwareNumber, ReadsTheVersionAfterTheTag) {
    EXPECT_EQ(NetworkFirmwareNumber("(FW:1.2.3)"), 123);
    EXPECT_EQ(NetworkFirmwareNumber("(FW: 3.2.1)"), 321);
    EXPECT_EQ(NetworkFirmwareNumber("xx(FW:3.0.0)"), 300);
    EXPECT_EQ(NetworkFirmwareNumber("(Unknown device)"), 0);
    EXPECT_EQ(NetworkFirmwareNumber("(FW:1.2.3"), 0);
    EXPECT_EQ(NetworkFirmwareNumber(""), 0);
}

}  // namespace
}  // namespace kv
