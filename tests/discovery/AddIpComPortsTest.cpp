// The Add IP window's "Add" and the COM port list.
#include <gtest/gtest.h>

#include "DiscoveryTestRig.h"
#include "core/ports/ChannelError.h"
#include "discovery/AddIp.h"
#include "discovery/ComPorts.h"

namespace kv {
namespace {

using test::DiscoveryRig;
using Dialog = test::ScriptedUi::Dialog;

std::vector<std::string> messages(const test::ScriptedUi& ui) {
    std::vector<std::string> out;
    for (const auto& d : ui.dialogsOf(Dialog::Message)) out.push_back(d.text);
    return out;
}

TEST(AddIpTest, AddressWithPortGoesStraightIntoTheLists) {
    DiscoveryRig d({"10.0.0.7"});
    AddIP(d.rig.ctx, " 10.0.0.7 ", true, "10001");
    ASSERT_EQ(d.rig.state.DeviceList.size(), 1u);
    const TMatrixRec& entry = d.rig.state.DeviceList[0];
    EXPECT_EQ(entry.IP, "10.0.0.7");
    EXPECT_EQ(entry.Port, 10001);
    EXPECT_EQ(entry.MAC, "");
    EXPECT_EQ(entry.Ident, "");
    EXPECT_EQ(d.rig.ui.networkEntries, (std::vector<std::string>{"10.0.0.7"}));
    EXPECT_TRUE(d.rig.udpServer.sent.empty());
    EXPECT_FALSE(d.rig.udpServer.isBound());

    // The entry holds what a connect needs: the module's tunnel answers there.
    d.rig.tcp1.setHost(entry.IP);
    d.rig.tcp1.setPort(entry.Port);
    EXPECT_TRUE(d.rig.tcp1.connect(std::chrono::milliseconds(100)));
}

TEST(AddIpTest, PortThatIsNotANumberIsRejectedWithoutAnEntry) {
    for (const char* port : {"", "1000l", "0x2711", "-5", "0", "65536", "99999999999"}) {
        SCOPED_TRACE(port);
        DiscoveryRig d({"10.0.0.7"});
        AddIP(d.rig.ctx, "10.0.0.7", true, port);
        EXPECT_EQ(messages(d.rig.ui), (std::vector<std::string>{"Misstyped IP or port number"}));
        EXPECT_TRUE(d.rig.state.DeviceList.empty());
        EXPECT_TRUE(d.rig.ui.networkEntries.empty());
    }
    EXPECT_EQ(ParsePortNumber("+10001 "), 10001);
    EXPECT_EQ(ParsePortNumber("65535"), 65535);
}

TEST(AddIpTest, AddressWithoutPortIsQueriedAndOnlyItsAnswersHandled) {
    DiscoveryRig d;
    // Another host answering first, as a module and with a set-up record.
    d.rig.udpServer.inbox.push_back({"10.0.0.7", 30718, test::answerBytes(0xF7, 30)});
    d.rig.udpServer.inbox.push_back({"10.0.0.7", 30718, test::answerBytes(0xF9, 26)});
    AddIP(d.rig.ctx, "10.0.0.8", false, "");
    EXPECT_TRUE(d.rig.udpServer.isBound());
    ASSERT_EQ(d.rig.udpServer.sent.size(), 1u);
    EXPECT_EQ(d.rig.udpServer.sent[0].address, "10.0.0.8");
    EXPECT_EQ(d.rig.udpServer.sent[0].port, 30718);
    EXPECT_EQ(d.rig.udpServer.sent[0].data, (Bytes{0x00, 0x00, 0x00, 0xF6}));
    d.pumpAll();
    ASSERT_EQ(d.rig.state.DeviceList.size(), 1u);
    EXPECT_EQ(d.rig.state.DeviceList[0].Serial, "(S:KV1001)");
    EXPECT_EQ(d.rig.ui.networkEntries,
              (std::vector<std::string>{"10.0.0.8 (I:RV-FS64S) (S:KV1001)"}));
    EXPECT_EQ(d.logCount("Ignored a discovery answer from 10.0.0.7, which was not asked"), 1u);
    EXPECT_EQ(d.controller(0).commands.size(), 0u) << "no tunnel opened to the other host";
}

TEST(AddIpTest, QueryThatCannotGoOutIsReported) {
    {
        DiscoveryRig d;
        d.rig.udpServer.failBind = true;
        AddIP(d.rig.ctx, "10.0.0.8", false, "");
        EXPECT_EQ(messages(d.rig.ui), (std::vector<std::string>{"Error on finding devices"}));
    }
    {
        DiscoveryRig d;
        d.rig.udpServer.unreachable = {"no.such.host"};
        AddIP(d.rig.ctx, "no.such.host", false, "");
        EXPECT_EQ(messages(d.rig.ui), (std::vector<std::string>{"Error on finding devices"}));
    }
    {
        DiscoveryRig d;
        AddIP(d.rig.ctx, "  ", true, "10001");
        EXPECT_TRUE(d.rig.ui.dialogs.empty());
        EXPECT_TRUE(d.rig.state.DeviceList.empty());
    }
}

TEST(ComPortsTest, FreePortsAreListedAndHeldOnesLeftOut) {
    DiscoveryRig d(std::vector<std::string>{});
    sim::TextDevice a, b, c, e;
    d.rig.world.attachSerial("ttyS0", &a);
    d.rig.world.attachSerial("ttyS1", &b);
    d.rig.world.attachSerial("ttyS2", &e);
    d.rig.world.attachSerial("ttyUSB0", &c);
    d.rig.system.heldPorts = {"ttyS1"};
    // A port without the rights is left out too, the log saying why; the scan goes on.
    d.rig.system.deniedPorts = {"ttyS2"};
    // The program's own open port is not mistaken for one held by another program.
    d.rig.com1.setName("ttyUSB0");
    d.rig.com1.open();

    ScanComPorts(d.rig.ctx);

    EXPECT_EQ(d.rig.ui.comEntries, (std::vector<std::string>{"ttyS0", "ttyUSB0"}));
    ASSERT_EQ(d.rig.state.DeviceList.size(), 2u);
    EXPECT_EQ(d.rig.state.DeviceList[0].IP, "ttyS0");
    EXPECT_EQ(d.rig.state.DeviceList[1].IP, "ttyUSB0");
    EXPECT_EQ(d.rig.state.DeviceList[1].Port, 0);
    EXPECT_FALSE(d.rig.com1.isOpen());
    const auto log = d.rig.logLines();
    EXPECT_NE(std::find_if(log.begin(), log.end(),
                           [](const std::string& line) {
                               return line.find("no rights on ttyS2") != std::string::npos;
                           }),
              log.end());
    EXPECT_TRUE(d.rig.ui.dialogs.empty());
}

TEST(ComPortsTest, AtMostTwentyCandidates) {
    DiscoveryRig d(std::vector<std::string>{});
    std::vector<std::unique_ptr<sim::TextDevice>> devices;
    for (int i = 10; i < 35; ++i) {
        devices.push_back(std::make_unique<sim::TextDevice>());
        d.rig.world.attachSerial("ttyS" + std::to_string(i), devices.back().get());
    }
    ScanComPorts(d.rig.ctx);
    EXPECT_EQ(d.rig.ui.comEntries.size(), 20u);
}

// A machine whose third port fails in a way the platform reports as an error.
class FailingSystem : public SystemInfo {
  public:
    std::vector<std::string> localIPv4Addresses() override { return {}; }
    std::vector<std::string> serialPortCandidates() override {
        return {"ttyS0", "ttyS1", "ttyS2", "ttyS3"};
    }
    bool trySerialPort(const std::string& name) override {
        if (name == "ttyS2") throw ChannelError("I/O error");
        return true;
    }
};

TEST(ComPortsTest, FailingStepEndsTheScanKeepingWhatWasListed) {
    DiscoveryRig d(std::vector<std::string>{});
    FailingSystem system;
    d.rig.ports.System = &system;
    ScanComPorts(d.rig.ctx);
    EXPECT_EQ(messages(d.rig.ui), (std::vector<std::string>{"Com Port Error!(3)"}));
    EXPECT_EQ(d.rig.ui.comEntries, (std::vector<std::string>{"ttyS0", "ttyS1"}));
    EXPECT_EQ(d.rig.state.DeviceList.size(), 2u);
}

}  // namespace
}  // namespace kv
