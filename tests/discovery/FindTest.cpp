// FIND: releasing a connected device, the module queries per interface and the handling
// of the modules' answers.
#include <gtest/gtest.h>

#include <random>

#include "DiscoveryTestRig.h"
#include "discovery/Discovery.h"
#include "module/GpioMessages.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::answerBytes;
using test::DiscoveryRig;
using Dialog = test::ScriptedUi::Dialog;

TEST(FindTest, ModulesOnTwoInterfacesAreListedOnceWithIdentAndSerial) {
    DiscoveryRig d;
    // The first interface reaches both modules twice (x.255 and x.255.255), the second
    // once more through 10.0.255.255.
    d.rig.world.localAddresses = {"10.0.0.1", "10.0.5.1"};

    FindDevices(d.rig.ctx);
    EXPECT_TRUE(d.rig.udpServer.isBound());
    std::vector<std::string> queried;
    for (const auto& q : d.sentWith(0xF6)) {
        EXPECT_EQ(q.port, 30718);
        EXPECT_EQ(q.data, (Bytes{0x00, 0x00, 0x00, 0xF6}));
        queried.push_back(q.address);
    }
    EXPECT_EQ(queried, (std::vector<std::string>{"10.0.0.255", "10.0.255.255", "10.0.5.255",
                                                 "10.0.255.255"}));
    EXPECT_EQ(d.rig.state.LocalIP, "10.0.5.1");
    EXPECT_EQ(d.rig.ui.busyTexts.front(), "Searching...");
    EXPECT_TRUE(d.rig.ui.busyShown);

    d.pumpAll();

    const auto& list = d.rig.state.DeviceList;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].IP, "10.0.0.7");
    EXPECT_EQ(list[0].MAC, "00-20-4A-9B-0C-11");
    EXPECT_EQ(list[0].ModuleVersion, "6.B.0");
    EXPECT_EQ(list[0].Port, 10001);
    EXPECT_EQ(list[0].Ident, "(I:RV-FS64S)");
    EXPECT_EQ(list[0].Serial, "(S:KV1000)");
    EXPECT_EQ(list[1].MAC, "00-20-4A-9B-0C-12");
    EXPECT_EQ(list[1].Serial, "(S:KV1001)");

    // One set-up record query per module, however often it answered.
    auto setupQueries = d.sentWith(0xF8);
    ASSERT_EQ(setupQueries.size(), 2u);
    EXPECT_EQ(setupQueries[0].data, (Bytes{0x00, 0x01, 0x00, 0xF8}));
    EXPECT_EQ(setupQueries[0].address, "10.0.0.7");
    EXPECT_EQ(d.rig.ui.networkEntries,
              (std::vector<std::string>{"10.0.0.7 (I:RV-FS64S) (S:KV1000)",
                                        "10.0.0.8 (I:RV-FS64S) (S:KV1001)"}));
    EXPECT_EQ(d.rig.ui.busyTimerRestarts, 2);
    EXPECT_EQ(d.controller(0).commands, (std::vector<std::string>{"{I}", "{S}"}));
    EXPECT_FALSE(d.rig.tcp1.connected());

    // Every F7 answer is counted, the new ones and the repeated ones.
    EXPECT_EQ(d.logCount("devicelist length: 1") + d.logCount("devicelist length: 2"), 6u);
    EXPECT_EQ(d.memoCount("Devicelist length: 1") + d.memoCount("Devicelist length: 2"), 6u);
    EXPECT_TRUE(d.rig.ui.dialogs.empty());
}

TEST(FindTest, ListsAreEmptiedAndOnlyComPortsFoundWithoutInterfaces) {
    DiscoveryRig d;
    d.rig.state.DeviceList.push_back(test::entry("1.2.3.4"));
    d.rig.state.networkTree = {"1.2.3.4 old"};
    d.rig.state.comTree = {"COM9"};
    d.rig.state.gridCells.assign(3, {"X", "1", "2", "3", "f.hex"});
    // A connected device whose first row was ticked: the empty row shows no tick after.
    TControllerRec ticked;
    ticked.Selected = true;
    d.rig.state.DeviceList[0].Controllers = {ticked, ticked};
    d.rig.state.SelectedDevice = 0;
    sim::TextDevice serialDevice;
    d.rig.world.attachSerial("ttyUSB0", &serialDevice);

    FindDevices(d.rig.ctx);
    d.pumpAll();

    EXPECT_TRUE(d.rig.udpServer.sent.empty());
    ASSERT_EQ(d.rig.state.DeviceList.size(), 1u);
    EXPECT_EQ(d.rig.state.DeviceList[0].IP, "ttyUSB0");
    EXPECT_TRUE(d.rig.ui.networkEntries.empty());
    EXPECT_EQ(d.rig.ui.comEntries, (std::vector<std::string>{"ttyUSB0"}));
    ASSERT_EQ(d.rig.ui.grid.size(), 1u);
    EXPECT_EQ(d.rig.ui.grid[0].cells[0], "");
    EXPECT_FALSE(d.rig.ui.grid[0].checked);
}

TEST(FindTest, HeldDiscoveryPortMeansNothingIsSentAndNoMessage) {
    DiscoveryRig d;
    d.rig.world.localAddresses = {"10.0.0.1"};
    d.rig.udpServer.failBind = true;
    FindDevices(d.rig.ctx);
    d.pumpAll();
    EXPECT_TRUE(d.rig.udpServer.sent.empty());
    EXPECT_TRUE(d.rig.state.DeviceList.empty());
    EXPECT_TRUE(d.rig.ui.dialogs.empty());
}

TEST(FindTest, SendFailureOnOneInterfaceMovesOnToTheNext) {
    DiscoveryRig d({"10.0.0.7", "10.1.0.9"});
    d.rig.world.localAddresses = {"10.0.0.1", "10.1.0.1"};
    d.rig.udpServer.unreachable = {"10.0.0.255"};
    FindDevices(d.rig.ctx);
    d.pumpAll();
    std::vector<std::string> queried;
    for (const auto& q : d.sentWith(0xF6)) queried.push_back(q.address);
    EXPECT_EQ(queried, (std::vector<std::string>{"10.1.0.255", "10.1.255.255"}));
    ASSERT_EQ(d.rig.state.DeviceList.size(), 1u);
    EXPECT_EQ(d.rig.state.DeviceList[0].IP, "10.1.0.9");
    EXPECT_TRUE(d.rig.ui.dialogs.empty());
}

TEST(FindTest, AnswersFromTheOwnInterfaceAreIgnored) {
    DiscoveryRig d;
    d.rig.state.LocalIP = "10.0.0.1";
    ASSERT_TRUE(StartDiscoveryListener(d.rig.ctx));
    Bytes f7 = answerBytes(0xF7, 30);
    d.rig.udpServer.inbox.push_back({"10.0.0.1", 30718, f7});
    d.rig.udpServer.inbox.push_back({"10.0.0.1", 30718, answerBytes(0xF9, 26)});
    d.pumpAll();
    EXPECT_TRUE(d.rig.state.DeviceList.empty());
    EXPECT_TRUE(d.rig.ui.networkEntries.empty());
    EXPECT_TRUE(d.rig.udpServer.sent.empty());
    EXPECT_TRUE(d.rig.ui.memo.empty());
}

TEST(FindTest, SetupAnswerWithoutModuleAnswerReadsTheTunnelButUpdatesNoEntry) {
    DiscoveryRig d;
    d.rig.state.DeviceList.push_back(test::entry("10.0.0.8", 4000));
    ASSERT_TRUE(StartDiscoveryListener(d.rig.ctx));
    SendSetupRecordQuery(d.rig.ctx, "10.0.0.7");
    d.pumpAll();

    EXPECT_EQ(d.rig.ui.networkEntries,
              (std::vector<std::string>{"10.0.0.7 (I:RV-FS64S) (S:KV1000)"}));
    ASSERT_EQ(d.rig.state.DeviceList.size(), 1u);
    EXPECT_EQ(d.rig.state.DeviceList[0].Ident, "");
    EXPECT_EQ(d.rig.state.DeviceList[0].Port, 4000);
    EXPECT_EQ(d.controller(0).commands, (std::vector<std::string>{"{I}", "{S}"}));
}

// Timer1 holds still while a module's tunnel is read, and the overlay's 2.5 s count from
// the end of that exchange, not from its start.
TEST(FindTest, BusyTimerCountsFromTheEndOfEachAnswersHandling) {
    DiscoveryRig d({"10.0.0.7"});
    d.module(0).silentTunnel = true;
    d.rig.world.localAddresses = {"10.0.0.1"};
    FindDevices(d.rig.ctx);
    const auto before = d.rig.clock.elapsed();
    std::vector<std::pair<bool, std::chrono::milliseconds>> timer;
    d.rig.ui.onBusyTimer = [&] {
        timer.emplace_back(d.rig.ui.busyTimerRunning, d.rig.clock.elapsed() - before);
    };
    d.pumpAll();
    using Event = std::pair<bool, std::chrono::milliseconds>;
    EXPECT_EQ(timer, (std::vector<Event>{{false, 0ms}, {true, 6000ms}}));
}

TEST(FindTest, SilentOrHalfAnsweringTunnelCostsOnlyItsWaits) {
    {
        DiscoveryRig d;
        d.module(0).silentTunnel = true;
        d.rig.world.localAddresses = {"10.0.0.1"};
        FindDevices(d.rig.ctx);
        const auto before = d.rig.clock.elapsed();
        d.pumpAll();
        // Two unanswered questions of 3000 ms for the silent module; the other answers.
        EXPECT_EQ(d.rig.clock.elapsed() - before, 6000ms);
        EXPECT_EQ(d.rig.ui.networkEntries[0], "10.0.0.7  ");
        EXPECT_EQ(d.rig.state.DeviceList[0].Port, 10001);
        EXPECT_EQ(d.rig.ui.networkEntries[1], "10.0.0.8 (I:RV-FS64S) (S:KV1001)");
        EXPECT_TRUE(d.rig.ui.dialogs.empty());
    }
    {
        DiscoveryRig d({"10.0.0.7"});
        d.controller(0).halfLineReplies = 2;
        d.rig.world.localAddresses = {"10.0.0.1"};
        FindDevices(d.rig.ctx);
        const auto before = d.rig.clock.elapsed();
        d.pumpAll();
        EXPECT_LE(d.rig.clock.elapsed() - before, 10000ms);
        ASSERT_EQ(d.rig.ui.networkEntries.size(), 1u);
        EXPECT_EQ(d.rig.ui.networkEntries[0].rfind("10.0.0.7 (I:RV", 0), 0u);
    }
}

TEST(FindTest, TunnelThatRefusesShowsTheErrorAndKeepsTheAddress) {
    DiscoveryRig d({"10.0.0.7"});
    d.rig.world.stopListening("10.0.0.7", 10001);
    d.rig.world.localAddresses = {"10.0.0.1"};
    FindDevices(d.rig.ctx);
    d.pumpAll();
    EXPECT_EQ(d.rig.ui.networkEntries, (std::vector<std::string>{"10.0.0.7  "}));
    auto errors = d.rig.ui.dialogsOf(Dialog::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text.rfind("Error while finding:\r", 0), 0u);
    EXPECT_GT(errors[0].text.size(), std::string("Error while finding:\r").size());
    // The port came with the module's answer; it stays for a later connect.
    EXPECT_EQ(d.rig.state.DeviceList[0].Port, 10001);
}

// A flood of set-up record answers: one entry and one tunnel exchange per address, and
// one error box per FIND however many tunnels fail.
TEST(FindTest, RepeatedSetupAnswersAreHandledOncePerAddressAndFind) {
    DiscoveryRig d({"10.0.0.7"});
    d.rig.world.stopListening("10.0.0.7", 10001);
    d.rig.world.localAddresses = {"10.0.0.1"};
    for (int find = 0; find < 2; ++find) {
        SCOPED_TRACE(find);
        FindDevices(d.rig.ctx);
        d.pumpAll();
        const int connectsBefore = d.rig.tcp1.connectCount;
        auto& inbox = d.rig.udpServer.inbox;
        for (int i = 0; i < 1000; ++i) inbox.push_back({"10.0.0.7", 30718, answerBytes(0xF9, 26)});
        // Other senders asked for their records, whose tunnels fail too, and one never
        // asked, whose answers count for nothing.
        for (int i = 20; i < 23; ++i) {
            SendSetupRecordQuery(d.rig.ctx, "10.0.0." + std::to_string(i));
            inbox.push_back({"10.0.0." + std::to_string(i), 30718, answerBytes(0xF9, 26)});
            inbox.push_back({"10.0.0.66", 30718, answerBytes(0xF9, 26)});
        }
        const auto before = d.rig.clock.elapsed();
        d.pumpAll();
        EXPECT_EQ(
            d.rig.ui.networkEntries,
            (std::vector<std::string>{"10.0.0.7  ", "10.0.0.20  ", "10.0.0.21  ", "10.0.0.22  "}));
        EXPECT_EQ(d.rig.tcp1.connectCount - connectsBefore, 3) << "the repeats try no tunnel";
        EXPECT_LE(d.rig.clock.elapsed() - before, 3 * kTunnelConnectWait);
        EXPECT_EQ(d.rig.ui.dialogsOf(Dialog::Error).size(), static_cast<std::size_t>(find + 1));
        EXPECT_EQ(d.logCount("Ignored a discovery answer from 10.0.0.66, which was not asked"),
                  static_cast<std::size_t>(find + 1));
    }
}

TEST(FindTest, MalformedDatagramsAreIgnored) {
    DiscoveryRig d;
    ASSERT_TRUE(StartDiscoveryListener(d.rig.ctx));
    // Asked, but the answers come from the test.
    d.module(0).setSilent(true);
    SendModuleQuery(d.rig.ctx, "10.0.0.7");
    auto& inbox = d.rig.udpServer.inbox;
    inbox.push_back({"10.0.0.7", 30718, {}});
    inbox.push_back({"10.0.0.7", 30718, {0x00, 0x00, 0xF7}});
    inbox.push_back({"10.0.0.7", 30718, answerBytes(0xF7, 29)});
    inbox.push_back({"10.0.0.7", 30718, answerBytes(0xF9, 25)});
    inbox.push_back({"10.0.0.7", 30718, answerBytes(0xF6, 64)});
    inbox.push_back({"", 0, answerBytes(0x00, 4000)});
    std::mt19937 random(7);
    for (int i = 0; i < 500; ++i) {
        Bytes data(random() % 40);
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        if (data.size() > 3 && (data[3] == 0xF7 || data[3] == 0xF9)) data[3] = 0x00;
        inbox.push_back({"10.0.0." + std::to_string(random() % 256), 30718, data});
    }
    d.pumpAll();
    EXPECT_TRUE(inbox.empty());
    EXPECT_TRUE(d.rig.state.DeviceList.empty());
    EXPECT_TRUE(d.rig.ui.networkEntries.empty());
    EXPECT_TRUE(d.rig.ui.dialogs.empty());

    // The shortest complete answers count, whatever their other bytes hold.
    Bytes f7 = answerBytes(0xF7, 30);
    f7[24] = 0xAB;
    inbox.push_back({"10.0.0.7", 30718, f7});
    d.pumpAll();
    ASSERT_EQ(d.rig.state.DeviceList.size(), 1u);
    EXPECT_EQ(d.rig.state.DeviceList[0].MAC, "AB-00-00-00-00-00");
    EXPECT_EQ(d.rig.state.DeviceList[0].ModuleVersion, "0.0.0");
    Bytes f9 = answerBytes(0xF9, 26);
    f9[24] = 0x11;
    f9[25] = 0x27;
    inbox.push_back({"10.0.0.7", 30718, f9});
    d.pumpAll();
    EXPECT_EQ(d.rig.state.DeviceList[0].Port, 10001);
    EXPECT_EQ(d.rig.state.DeviceList[0].Ident, "(I:RV-FS64S)");
}

// A GPIO port that notes the virtual time of every message before the module answers it.
class TimedGpio : public sim::DatagramPeer {
  public:
    TimedGpio(sim::DatagramPeer& inner, test::VirtualClock& clock) : inner_(inner), clock_(clock) {}
    std::vector<Datagram> receive(const Datagram& fromTool) override {
        messages.push_back(fromTool.data);
        times.push_back(clock_.elapsed());
        return inner_.receive(fromTool);
    }
    std::vector<Bytes> messages;
    std::vector<std::chrono::milliseconds> times;

  private:
    sim::DatagramPeer& inner_;
    test::VirtualClock& clock_;
};

struct ReleaseCase {
    int fwNumber;
    bool directSetup;
    std::vector<Bytes> gpio;
    std::optional<std::uint8_t> storedBaudCode;  // byte 21 of a rewritten set-up record
};

TEST(FindTest, ConnectedDeviceIsReleasedBeforeThePause) {
    const Bytes select0 = Bytes{0x1B, 0x07, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF};
    const Bytes select7 = Bytes{0x1B, 0x07, 0xFF, 0xFF, 0xFF, 0x07, 0xFF, 0xFF, 0xFF};
    const Bytes exitBl = Bytes{0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const ReleaseCase cases[] = {
        {250, false, {select0, select7}, 0x02},
        {250, true, {select0, select7}, 0x02},
        {312, true, {}, 0x09},
        {312, false, {exitBl}, std::nullopt},
    };
    for (const ReleaseCase& c : cases) {
        SCOPED_TRACE(c.fwNumber);
        DiscoveryRig d({"10.0.0.7"});
        TimedGpio gpio(d.module(0).gpio(), d.rig.clock);
        d.rig.world.bindUdp("10.0.0.7", kGpioPort, &gpio);
        d.rig.world.localAddresses = {"10.0.0.1"};
        auto& s = d.rig.state;
        s.CurrentIP = "10.0.0.7";
        s.DeviceFwNumber = c.fwNumber;
        s.DirectSetupMatrix = c.directSetup;
        s.properties = {"RV-FS64S", "KV1000", "10.0.0.7", "00-20-4A-9B-0C-11"};
        ASSERT_TRUE(StartDiscoveryListener(d.rig.ctx));
        d.rig.gpioClient.bind(0, false);
        d.rig.tcp1.setHost("10.0.0.7");
        d.rig.tcp1.setPort(10001);
        d.rig.tcp1.connect(1000ms);

        FindDevices(d.rig.ctx);

        EXPECT_EQ(gpio.messages, c.gpio);
        for (auto t : gpio.times) EXPECT_EQ(t, 0ms);
        const auto& stored = d.module(0).storedRecords;
        ASSERT_EQ(stored.size(), c.storedBaudCode ? 1u : 0u);
        if (c.storedBaudCode) {
            EXPECT_EQ(stored[0][21], *c.storedBaudCode);
        }
        EXPECT_EQ(d.rig.clock.elapsed(), 13000ms);

        EXPECT_EQ(d.rig.ui.busyTexts,
                  (std::vector<std::string>{"Searching...", "Closing connections ..."}));
        EXPECT_FALSE(d.rig.ui.busyShown);
        EXPECT_FALSE(d.rig.ui.enabled(UiElement::Upgrade));
        EXPECT_EQ(s.CurrentIP, "0.0.0.0");
        EXPECT_EQ(d.rig.ui.properties.ip, "");
        EXPECT_FALSE(d.rig.gpioClient.isBound());
        EXPECT_FALSE(d.rig.tcp1.connected());
        // The search itself goes on after the release: the listener is opened again.
        EXPECT_TRUE(d.rig.udpServer.isBound());
        EXPECT_EQ(d.sentWith(0xF6).size(), 2u);
        d.pumpAll();
        EXPECT_EQ(s.DeviceList.size(), 1u);
    }
}

TEST(FindTest, UnreachableConnectedDeviceDoesNotBlockTheSearch) {
    DiscoveryRig d({"10.0.0.7"});
    d.rig.world.localAddresses = {"10.0.0.1"};
    d.rig.state.CurrentIP = "10.0.0.99";
    d.rig.state.DeviceFwNumber = 100;
    d.rig.gpioClient.unreachable = {"10.0.0.99"};

    FindDevices(d.rig.ctx);
    d.pumpAll();

    auto errors = d.rig.ui.dialogsOf(Dialog::Error);
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(errors[0].text.rfind("Error while finding:\r", 0), 0u);
    EXPECT_EQ(d.rig.state.CurrentIP, "0.0.0.0");
    EXPECT_EQ(d.rig.state.DeviceList.size(), 1u);
}

}  // namespace
}  // namespace kv
