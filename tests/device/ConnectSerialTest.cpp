// Opening a device on a COM port: the bit rate search, transmitters, devices left in
// upgrade mode, and the COM list's "Handle as" entries.
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

const Bytes kCardRequest{0x0F, 0x0F, 0x00, 0x02, 0xFE, 0x04};

std::vector<Bytes> sentTexts(std::initializer_list<const char*> texts) {
    std::vector<Bytes> out;
    for (const char* t : texts) out.push_back(toBytes(t));
    return out;
}

TEST(ConnectSerial, FibreExtenderIsAskedForItsCardsAt19200) {
    ConnectRig t(DemoFamily::Serial);
    t.yes();
    const auto start = t.rig.clock.elapsed();
    ConnectSerialDevice(t.rig.ctx, 0);

    EXPECT_EQ(t.grid(),
              (std::vector<Row>{{"LNK-FBR-SN330-MAX", "HW:1.0", "BL:1.0", "FW:1.0.4", ""}}));
    EXPECT_EQ(t.cardAddresses(), std::vector<int>{1});
    auto expected = sentTexts({"{I}\r\n", "{P_PRGRQST}"});
    expected.push_back(kCardRequest);
    EXPECT_EQ(t.rig.com1.sent, expected);
    EXPECT_EQ(t.rig.com1.baud(), 19200);
    EXPECT_TRUE(t.rig.com1.isOpen());
    // 200 ms before the request, 41 slices of 100 ms, the card's 300 ms window.
    EXPECT_EQ(t.rig.clock.elapsed() - start, 4600ms);
    EXPECT_TRUE(t.memoHas("COM3 opened"));
    EXPECT_TRUE(t.memoHas("d1(I:LNK-FBR-SN330-MAX)"));
    EXPECT_TRUE(t.memoHas("Query Installed Cards..."));
    EXPECT_EQ(t.rig.state.ConnectionKind, ConnectionKind::Serial);
    EXPECT_EQ(t.rig.state.CardQueryCount, 1);
    EXPECT_TRUE(t.rig.ui.enabled(UiElement::Grids));
    EXPECT_TRUE(t.rig.ui.enabled(UiElement::Upgrade));
    EXPECT_FALSE(t.rig.ui.enabled(UiElement::ComTree));
}

TEST(ConnectSerial, TransmitterSilentAt9600AnswersAt57600AndIsTheOnlyRow) {
    ConnectRig t(DemoFamily::SerialTransmitter);
    // Rows of a device shown before must not stay above the transmitter's.
    t.rig.state.gridCells.assign(3, {"old", "", "", "", ""});
    t.device().Controllers.resize(3);
    t.yes();
    ConnectSerialDevice(t.rig.ctx, 0);

    EXPECT_EQ(t.grid(), (std::vector<Row>{{"NRV-TW-SN500S", "n/a", "n/a", "1.0.3", ""}}));
    EXPECT_EQ(t.device().Controllers.size(), 1u);
    EXPECT_EQ(t.rig.com1.baud(), 57600);
    EXPECT_EQ(t.rig.com1.sent, sentTexts({"{I}\r\n", "{I}\r\n", "{F}\r\n"}));
    EXPECT_EQ(t.rig.com1.lineHistory.front().baud, 9600);
    EXPECT_FALSE(t.rig.state.TpTransmitterMode);
    EXPECT_TRUE(t.rig.ui.enabled(UiElement::Upgrade));
}

TEST(ConnectSerial, DeviceInUpgradeModeGetsTwentySecondsBeforeTheInventory) {
    ConnectRig t(DemoFamily::SerialUpgradeMode);
    t.yes();
    const auto start = t.rig.clock.elapsed();
    ConnectSerialDevice(t.rig.ctx, 0);

    EXPECT_TRUE(t.memoHas("Device has been in firmware upgrade mode..."));
    EXPECT_EQ(t.logCount("Device has been in firmware upgrade mode..."), 1u);
    // Two silent "{I}" (4 s each), 200 ms, the silent request (4 s), 201 slices of
    // 100 ms, then the card's window.
    EXPECT_EQ(t.rig.clock.elapsed() - start, 4000ms + 4000ms + 200ms + 4000ms + 20100ms + 300ms);
    EXPECT_EQ(t.rig.com1.lineHistory.back().baud, 19200);
    EXPECT_EQ(t.grid(),
              (std::vector<Row>{{"LNK-FBR-SN330-MAX", "HW:1.0", "BL:1.0", "FW:1.0.4", ""}}));
}

TEST(ConnectSerial, FibreLinkIsListedWithoutAskingItsCards) {
    ConnectRig t(DemoFamily::SerialFibreLink);
    t.yes();
    ConnectSerialDevice(t.rig.ctx, 0);
    EXPECT_TRUE(t.rig.state.FibreLinkMode);
    EXPECT_EQ(t.grid(), (std::vector<Row>{{"HQLX-FBR", "HW:N/A", "FW:N/A", "FW:N/A", ""}}));
    EXPECT_EQ(t.rig.com1.sent, sentTexts({"{I}\r\n", "{P_PRGRQST}"}));
}

TEST(ConnectSerial, NoPortSelectedOrNoAnswer) {
    ConnectRig t(DemoFamily::Serial);
    t.yes();
    ConnectSerialDevice(t.rig.ctx, -1);
    EXPECT_EQ(t.dialogTexts(Dialog::Message), std::vector<std::string>{"Please select a device"});
    EXPECT_FALSE(t.rig.ui.enabled(UiElement::ComTree));

    t.rig.ui.enables.clear();
    ConnectSerialDevice(t.rig.ctx, 0);  // answered No
    EXPECT_TRUE(t.rig.com1.sent.empty());
    EXPECT_EQ(t.rig.state.ConnectionKind, ConnectionKind::None);
    EXPECT_FALSE(t.rig.ui.enabled(UiElement::ComTree));
}

TEST(HandleAs, ComEntriesListAFixedRowAndSendNothing) {
    struct Case {
        HandleAs entry;
        int baud;
        Row row;
    };
    const Case cases[] = {
        {HandleAs::LnkFbrRc330, 9600, {"LNK-FBR-RC330-MAX", "HW:N/A", "FW:N/A", "FW:N/A", ""}},
        {HandleAs::HqlxFbr, 19200, {"HQLX-FBR", "HW:N/A", "FW:N/A", "FW:N/A", ""}},
        {HandleAs::NrvTwSn500s, 57600, {"NRV-TW-SN500S", "n/a", "n/a", "1.0.0", ""}},
        {HandleAs::NrvFkTwSn500, 57600, {"NRV-FK-TW-SN500S", "n/a", "n/a", "1.0.0", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row[0]);
        ConnectRig t(DemoFamily::Serial);
        ConnectHandledAs(t.rig.ctx, c.entry, -1, 0);
        EXPECT_TRUE(t.rig.com1.sent.empty());
        EXPECT_EQ(t.rig.com1.baud(), c.baud);
        EXPECT_TRUE(t.rig.com1.isOpen());
        EXPECT_EQ(t.grid(), std::vector<Row>{c.row});
        EXPECT_EQ(t.rig.state.ConnectionKind, ConnectionKind::Serial);
        EXPECT_EQ(t.rig.state.TpTransmitterMode, c.baud == 57600);
        EXPECT_TRUE(t.rig.ui.enabled(UiElement::Grids));
        EXPECT_TRUE(t.rig.ui.dialogs.empty());
    }
}

TEST(HandleAs, ComEntryFlagsDoNotFollowToTheNextConnect) {
    ConnectRig t(DemoFamily::Serial);
    ConnectHandledAs(t.rig.ctx, HandleAs::LnkFbrRc330, -1, 0);
    ASSERT_TRUE(t.rig.state.HandleAsFibreRx);
    t.yes();
    ConnectSerialDevice(t.rig.ctx, 0);
    EXPECT_FALSE(t.rig.state.HandleAsFibreRx);
    EXPECT_EQ(t.grid().front()[0], "LNK-FBR-SN330-MAX");

    ConnectHandledAs(t.rig.ctx, HandleAs::HqlxFbr, -1, -1);
    EXPECT_EQ(t.dialogTexts(Dialog::Message), std::vector<std::string>{"Please select a device"});
    EXPECT_FALSE(t.rig.state.FibreLinkMode);
}

TEST(ConnectSerial, NetworkInventoryAfterASerialOneWalksEverySlotAgain) {
    ConnectRig t(DemoFamily::Serial);
    sim::DemoOptions panel;
    panel.family = DemoFamily::Panel;
    sim::DemoDevices panelDevices = sim::buildDemoWorld(t.rig.world, panel);
    TMatrixRec device;
    device.IP = "127.0.0.2";
    device.Port = 10001;
    t.rig.state.DeviceList.push_back(device);
    t.rig.state.networkTree.push_back("127.0.0.2 (I:RV-PNL16)");

    t.yes();
    ConnectSerialDevice(t.rig.ctx, 0);
    ASSERT_EQ(t.rig.state.CardQueryCount, 1);
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    EXPECT_EQ(t.rig.state.CardQueryCount, 6);
    ASSERT_EQ(t.grid().size(), 3u);
    EXPECT_EQ(t.grid()[1][0], "RV-BTN16");  // slot 3

    // The serial inventory goes to the port's own entry; the panel's record stays.
    t.yes();
    ConnectSerialDevice(t.rig.ctx, 0);
    EXPECT_EQ(t.rig.state.SelectedDevice, 0);
    EXPECT_EQ(t.device(0).Controllers.size(), 1u);
    EXPECT_EQ(t.device(1).Controllers.size(), 3u);
}

}  // namespace
}  // namespace kv
