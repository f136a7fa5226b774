#include <gtest/gtest.h>

#include "UsbTestRig.h"

namespace kv::test {
namespace {

std::vector<std::string> products(const std::vector<UsbRow>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.product + "/" + r.serial + "/" + r.index);
    return out;
}

// A rig whose bus already holds a device when the program starts.
struct PrePlugged : FakeRig {
    explicit PrePlugged(sim::HidBootloaderDevice& d) {
        hid.plug(d);
        RegisterHidEvents(ctx);
        ctx.ProcessMessages();
    }
    UsbState& usb() { return *ctx.usb; }
};

TEST(UsbDeviceList, ListsMakerDevicesOnlyAfterAChange) {
    sim::HidBootloaderDevice present("USB-SW", "P1");
    PrePlugged start(present);
    start.clock.advance(kHidPollInterval);
    start.ctx.ProcessMessages();
    EXPECT_TRUE(start.state.usbRows.empty()) << "listed before any change";

    sim::HidBootloaderDevice second("USB-TX", "S2");
    start.hid.plug("korvandel", "Lower", "L1");
    start.hid.plug("Other Maker", "Mouse", "M1");
    start.hid.plug(second);
    start.clock.advance(kHidPollInterval);
    start.ctx.ProcessMessages();

    EXPECT_EQ(products(start.state.usbRows),
              (std::vector<std::string>{"USB-SW/P1/0", "USB-TX/S2/1"}));
    EXPECT_EQ(products(start.ui.usbRows), products(start.state.usbRows));
    ASSERT_EQ(start.state.DeviceList.size(), 2u);
    EXPECT_EQ(start.state.DeviceList[1].Ident, "USB-TX");
    EXPECT_EQ(start.state.DeviceList[1].Serial, "S2");
    EXPECT_TRUE(start.state.DeviceList[1].IP.empty());
    ASSERT_EQ(start.usb().claimed.size(), 2u);
    EXPECT_EQ(start.usb().claimed[1].name, "USB-TX:S2");
}

TEST(UsbDeviceList, UnpluggingRebuildsTheListAndKeepsOtherEntriesValid) {
    UsbRig rig;
    rig.addDevice("10.0.0.5");
    TMatrixRec com;
    com.IP = "COM1";
    rig.state.DeviceList.push_back(com);
    sim::HidBootloaderDevice a("USB-A", "1"), b("USB-B", "2");
    rig.hid.plug(a);
    rig.hid.plug(b);
    rig.settle();
    ASSERT_EQ(rig.state.DeviceList.size(), 4u);
    rig.state.SelectedDevice = 3;  // USB-B in use

    rig.hid.unplug(a);
    rig.settle();

    EXPECT_EQ(products(rig.state.usbRows), (std::vector<std::string>{"USB-B/2/0"}));
    // The entry of the device that left went; the selected one still names USB-B.
    ASSERT_EQ(rig.state.DeviceList.size(), 4u);
    EXPECT_EQ(rig.state.DeviceList[0].IP, "10.0.0.5");
    EXPECT_EQ(rig.state.DeviceList[1].IP, "COM1");
    EXPECT_EQ(rig.state.SelectedDevice, 2);
    EXPECT_EQ(rig.state.DeviceList[2].Ident, "USB-B");
    EXPECT_EQ(rig.state.DeviceList[3].Ident, "USB-B");

    // Another maker's device leaving takes a stale duplicate, never the selected entry,
    // and never a network or COM entry.
    std::string mouse = rig.hid.plug("Other Maker", "Mouse", "M");
    rig.settle();  // appends USB-B again: [net, COM, B(sel), B, B]
    rig.hid.unplug(mouse);
    rig.settle();  // removal drops one stale B, the change appends one
    EXPECT_EQ(rig.state.DeviceList[0].IP, "10.0.0.5");
    EXPECT_EQ(rig.state.DeviceList[1].IP, "COM1");
    EXPECT_EQ(rig.state.DeviceList[static_cast<std::size_t>(rig.state.SelectedDevice)].Ident,
              "USB-B");
    EXPECT_EQ(rig.state.DeviceList.size(), 5u);
}

TEST(UsbDeviceList, DeviceThatCannotBeClaimedIsSkippedSilently) {
    UsbRig rig;
    sim::HidBootloaderDevice a("USB-A", "1"), b("USB-B", "2");
    rig.hid.failOpen.insert(rig.hid.plug(a));
    rig.hid.plug(b);
    rig.settle();

    EXPECT_EQ(products(rig.state.usbRows), (std::vector<std::string>{"USB-B/2/0"}));
    ASSERT_EQ(rig.state.DeviceList.size(), 1u);
    EXPECT_EQ(rig.state.DeviceList[0].Ident, "USB-B");
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

TEST(UsbDeviceList, DeviceChangeForgetsTheCurrentDevice) {
    UsbRig rig;
    sim::HidBootloaderDevice a("USB-A", "1");
    rig.hid.plug(a);
    rig.settle();
    rig.usb().CurrentHidDevice = rig.usb().claimed[0].device.get();

    rig.hid.plug("Other Maker", "Keyboard", "K");
    rig.settle();

    EXPECT_EQ(rig.usb().CurrentHidDevice, nullptr);
    EXPECT_EQ(rig.state.usbRows.size(), 1u);
}

}  // namespace
}  // namespace kv::test
