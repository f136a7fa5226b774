#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "UsbTestRig.h"

namespace kv::test {
namespace {

using namespace std::chrono_literals;

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string hexBytes(const Bytes& bytes) {
    std::string out;
    char buf[4];
    for (auto b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        out += buf;
    }
    return out;
}

TEST(HidConnect, DoubleClickPutsTheDeviceIntoItsBootloaderAndListsItsController) {
    UsbRig rig;
    sim::HidBootloaderDevice dev("USB-SW", "SN1");
    dev.infoText = "KV USB-SW HW:1.2 FW:2.0.1 BL:1.1";
    rig.connect(dev);

    auto asks = rig.ui.dialogsOf(ScriptedUi::Dialog::Ask);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].text.rfind("The device will go to firmware upgrade mode!\r\n", 0), 0u);
    EXPECT_EQ(asks[0].focused, MsgButton::No);

    // The request: report ID 0, the text, zeros up to the device's report length.
    ASSERT_GE(rig.hid.written.size(), 3u);
    Bytes request(65, 0x00);
    std::string text = "{P_PRGRQST}";
    std::copy(text.begin(), text.end(), request.begin() + 1);
    EXPECT_EQ(rig.hid.written[0], request);
    EXPECT_TRUE(contains(rig.ui.memo, "<- {P_PRGRQST}"));
    EXPECT_TRUE(contains(rig.ui.memo, "-> (P_PRG_READY)"));
    EXPECT_TRUE(contains(rig.ui.memo, "<- {P_PRGRESET}"));
    EXPECT_EQ(dev.counters.resets, 1);
    EXPECT_EQ(dev.mode(), sim::HidBootloaderDevice::Mode::Bootloader);
    EXPECT_GE(rig.clock.elapsed(), 8s);

    // The device was taken again under its new node and asked for its information.
    ASSERT_NE(rig.usb().current(), nullptr);
    EXPECT_EQ(rig.usb().current()->info.path, rig.hid.pathOf(dev));
    Bytes info(65, 0x00);
    info[1] = 0x09;
    EXPECT_EQ(rig.hid.written.back(), info);
    EXPECT_TRUE(contains(rig.logLines(), "<- " + hexBytes(info)));

    EXPECT_EQ(rig.state.ConnectionKind, ConnectionKind::Usb);
    EXPECT_EQ(rig.state.CardQueryCount, 1);
    EXPECT_EQ(rig.ui.properties.name, "USB-SW");
    EXPECT_EQ(rig.ui.properties.serial, "SN1");
    EXPECT_EQ(rig.ui.properties.ip, "USB connection");
    EXPECT_EQ(rig.ui.properties.mac, "USB connection");

    // Five words, the third holding "HW:".
    ASSERT_EQ(rig.state.SelectedDevice, static_cast<int>(rig.state.DeviceList.size()) - 1);
    const auto& controllers = rig.state.DeviceList.back().Controllers;
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].ControllerType, "KV USB-SW");
    EXPECT_EQ(controllers[0].HardwareVersion, "HW:1.2");
    EXPECT_EQ(controllers[0].FirmwareVersion, "FW:2.0.1");
    EXPECT_EQ(controllers[0].BootloaderVersion, "BL:1.1");
    EXPECT_EQ(controllers[0].CardAddress, 1);
    EXPECT_EQ(rig.ui.grid.at(0).cells[0], "KV USB-SW");
    auto log = rig.logLines();
    auto row =
        std::find(log.begin(), log.end(),
                  "Controller type: KV USB-SW  HW: HW:1.2  Bootloader: BL:1.1  FW: FW:2.0.1");
    ASSERT_NE(row, log.end());
    ASSERT_GE(log.end() - row, 3);
    EXPECT_EQ(row[1], std::string(54, '-'));
    EXPECT_EQ(row[2], "");
    EXPECT_TRUE(contains(log, "dev_num: " + std::to_string(rig.state.SelectedDevice)));
    EXPECT_TRUE(
        contains(rig.ui.memo, "Device number: " + std::to_string(rig.state.SelectedDevice)));

    EXPECT_TRUE(rig.ui.enabled(UiElement::Grids));
    EXPECT_TRUE(rig.ui.enabled(UiElement::Upgrade));
    EXPECT_TRUE(rig.messages().empty());
}

TEST(HidConnect, AnsweringNoLeavesTheDeviceAlone) {
    UsbRig rig;
    sim::HidBootloaderDevice dev("USB-SW", "SN1");
    rig.hid.plug(dev);
    rig.settle();
    rig.chooseDevice(dev, MsgButton::No);
    EXPECT_TRUE(rig.hid.written.empty());
    EXPECT_EQ(rig.state.ConnectionKind, ConnectionKind::None);
}

TEST(HidConnect, ReadyReplyMayCarryMoreText) {
    UsbRig rig;
    sim::HidBootloaderDevice dev("USB-SW", "SN1");
    dev.readyText = "(P_PRG_READY) BL2.0";
    rig.connect(dev);
    EXPECT_EQ(dev.counters.resets, 1);
    EXPECT_TRUE(rig.messages().empty());
}

TEST(HidConnect, EveryDoubleClickWaitsForTheReadyReply) {
    UsbRig rig;
    sim::HidBootloaderDevice dev("USB-SW", "SN1");
    rig.connect(dev);
    ASSERT_EQ(dev.counters.resets, 1);

    dev.faults.neverReady = true;
    auto before = rig.clock.elapsed();
    rig.chooseDevice(dev);

    EXPECT_EQ(dev.counters.readyReplies, 2);
    EXPECT_EQ(dev.counters.resets, 1) << "reset sent without a ready reply";
    EXPECT_EQ(rig.messages(), (std::vector<std::string>{"Can not enter bootload mode"}));
    EXPECT_EQ(rig.clock.elapsed() - before, kHidReadyRounds * kHidPumpRound);
}

TEST(HidConnect, MissingInformationReplyIsReportedAsQueryError) {
    UsbRig rig;
    sim::HidBootloaderDevice dev("USB-SW", "SN1");
    dev.faults.noInformation = true;
    rig.connect(dev);

    EXPECT_EQ(rig.link().HidVersionReply, "NO VALID DATA");
    ASSERT_EQ(rig.ui.dialogsOf(ScriptedUi::Dialog::Error).size(), 1u);
    EXPECT_EQ(
        rig.ui.dialogsOf(ScriptedUi::Dialog::Error)[0].text.rfind("Error in Query Cards:\r", 0),
        0u);
    EXPECT_TRUE(rig.state.DeviceList.back().Controllers.empty());
}

TEST(HidConnect, DeviceIsTakenAgainByNameWhenTheListReorders) {
    UsbRig rig;
    sim::HidBootloaderDevice a("USB-A", "1"), b("USB-B", "2");
    rig.hid.plug(a);
    rig.hid.plug(b);
    rig.settle();
    ASSERT_EQ(rig.rowOf("USB-A"), 0);

    rig.chooseDevice(a);

    // USB-A came back on a newer node and is now listed second.
    EXPECT_EQ(rig.rowOf("USB-A"), 1);
    ASSERT_NE(rig.usb().current(), nullptr);
    EXPECT_EQ(rig.usb().current()->info.product, "USB-A");
    EXPECT_EQ(a.counters.infoRequests, 1);
    EXPECT_EQ(b.counters.textCommands + b.counters.infoRequests, 0);
    EXPECT_EQ(rig.state.DeviceList.at(static_cast<std::size_t>(rig.state.SelectedDevice)).Ident,
              "USB-A");
}

TEST(HidConnect, NoUsableRowAsksToSelectADevice) {
    UsbRig rig;
    rig.chooseDevice(sim::HidBootloaderDevice("USB-X", "0"));
    EXPECT_EQ(rig.messages(), (std::vector<std::string>{"Please select a device"}));
    EXPECT_TRUE(rig.hid.written.empty());
}

}  // namespace
}  // namespace kv::test
