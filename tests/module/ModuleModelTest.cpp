// The network module model's own answers: discovery, set-up record, tunnel routing.
#include <gtest/gtest.h>

#include "CardBus.h"
#include "IdentCard.h"
#include "NetworkModule.h"
#include "Scenario.h"
#include "TextDevice.h"
#include "World.h"

namespace kv::sim {
namespace {

Datagram query(std::initializer_list<std::uint8_t> bytes) {
    return Datagram{"127.0.0.1", 30718, Bytes(bytes)};
}

TEST(ModuleModel, DiscoveryAnswersCarryVersionMacAndTunnelPort) {
    NetworkModule::Config config;
    config.tunnelPort = 10005;
    config.versionHigh = 0x06;
    config.versionLow = 0x0B;
    NetworkModule module(config);
    World world;
    module.attach(world);
    auto peers = world.udpPeers("127.0.0.255", 30718);
    ASSERT_EQ(peers.size(), 1u);

    auto f7 = peers[0]->receive(query({0x00, 0x00, 0x00, 0xF6}));
    ASSERT_EQ(f7.size(), 1u);
    EXPECT_EQ(f7[0].address, "127.0.0.1");
    const Bytes& a = f7[0].data;
    ASSERT_GE(a.size(), 30u);
    EXPECT_EQ(a[3], 0xF7);
    EXPECT_EQ(a[6], 0x0B);
    EXPECT_EQ(a[7], 0x06);
    EXPECT_EQ(Bytes(a.begin() + 24, a.begin() + 30), Bytes(config.mac.begin(), config.mac.end()));

    auto f9 = peers[0]->receive(query({0x00, 0x01, 0x00, 0xF8}));
    ASSERT_EQ(f9.size(), 1u);
    ASSERT_GE(f9[0].data.size(), 26u);
    EXPECT_EQ(f9[0].data[3], 0xF9);
    EXPECT_EQ(f9[0].data[24] + 256 * f9[0].data[25], 10005);
    EXPECT_TRUE(world.connectTcp(config.address, 10005) != nullptr);

    module.setSilent(true);
    EXPECT_TRUE(peers[0]->receive(query({0x00, 0x00, 0x00, 0xF6})).empty());
    EXPECT_EQ(module.unansweredDiscovery, 1);
}

TEST(ModuleModel, RecordStoredInPiecesIsAppliedWhenComplete) {
    NetworkModule module;
    World world;
    module.attach(world);
    TextDevice device;
    module.setSerialDevice(&device);
    auto session = world.connectTcp("127.0.0.2", 30718);
    Bytes record = session->receive(Bytes{0x00, 0x00, 0x00, 0xF8});
    ASSERT_EQ(record.size(), 124u);
    record[3] = 0xFA;
    record[20] = 0x7C;
    record[21] = 0x09;
    EXPECT_TRUE(session->receive(ByteView(record).first(50)).empty());
    EXPECT_EQ(module.serialLine(), (LineSettings{9600, Parity::None}));
    EXPECT_EQ(session->receive(ByteView(record).subspan(50)), (Bytes{0x00, 0x00, 0x00, 0xFB}));
    EXPECT_EQ(module.record().bytes(), record);
    EXPECT_EQ(module.serialLine(), (LineSettings{57600, Parity::Even}));
    // The device behind hears the new setting, and no longer the old one.
    EXPECT_FALSE(device.hearing());
}

TEST(ModuleModel, TunnelReachesTheCardTheLinesSelect) {
    World world;
    DemoOptions options;
    options.family = DemoFamily::Panel;
    DemoDevices demo = buildDemoWorld(world, options);
    NetworkModule& module = *demo.modules[0];
    IdentCard& card = *demo.cards[0];
    TextDevice& controller = *demo.controllers[0];
    auto tunnel = world.connectTcp("127.0.0.2", 10001);

    // Normal operation: select code 7 and 9600 baud reach the main controller.
    EXPECT_EQ(tunnel->receive(toBytes("{I}\r\n")), toBytes("(I:RV-PNL16)\r\n"));

    Bytes request{0x0F, 0x0F, 0x00, 0x02, 0xFE, 0x04};
    module.gpio().setStates(1);
    EXPECT_TRUE(tunnel->receive(request).empty());  // the card runs at 19200
    EXPECT_EQ(card.garbledBytes, request.size());

    auto setup = world.connectTcp("127.0.0.2", 30718);
    Bytes record = setup->receive(Bytes{0x00, 0x00, 0x00, 0xF8});
    record[3] = 0xFA;
    record[21] = 0x01;
    setup->receive(record);
    Bytes reply = tunnel->receive(request);
    EXPECT_EQ(reply, card_frame::identReply("RV-PNL16 HW:1.0 FW:1.4.0 BL:1.0"));
    EXPECT_EQ(card.identRequests, 1);
    EXPECT_EQ(controller.commands, std::vector<std::string>{"{I}"});

    module.silentTunnel = true;
    EXPECT_TRUE(tunnel->receive(request).empty());
    EXPECT_EQ(module.droppedTunnelBytes, request.size());
}

TEST(ModuleModel, MatrixCardsAnswerOnlyToTheirRegisterValueInBootloaderMode) {
    World world;
    DemoDevices demo = buildDemoWorld(world, DemoOptions{});
    NetworkModule& module = *demo.modules[0];
    CardBus& bus = *demo.buses[0];
    auto gpio = world.udpPeers("127.0.0.2", 30704);
    ASSERT_EQ(gpio.size(), 1u);
    auto send = [&](Bytes m) { return gpio[0]->receive(Datagram{"127.0.0.1", 5000, m}); };

    EXPECT_EQ(bus.selected(), demo.controllers[0].get());
    // Clock walk number 5 in: b7..b0 = 0 1 1 0 0 0 1 0, final level 1.
    auto line = [&](int bit, int level) {
        return send({0x1B, static_cast<std::uint8_t>(bit), 0xFF, 0xFF, 0xFF,
                     static_cast<std::uint8_t>(level ? bit : 0), 0xFF, 0xFF, 0xFF});
    };
    line(1, 1);
    for (int b : {0, 1, 1, 0, 0, 0, 1, 0, 1}) {
        line(2, 0);
        line(4, b);
        auto answer = line(2, 1);
        ASSERT_EQ(answer.size(), 1u);
        EXPECT_EQ(answer[0].port, 5000);
    }
    line(1, 0);
    EXPECT_EQ(module.gpio().latched(), std::optional<std::uint16_t>(0xC5));
    EXPECT_EQ(bus.selected(), demo.cards[1].get());

    auto tunnel = world.connectTcp("127.0.0.2", 10001);
    Bytes request{0x0F, 0x0F, 0x00, 0x02, 0xFE, 0x04};
    EXPECT_TRUE(tunnel->receive(request).empty());
    send({0x20, 0x00, 0x4B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(tunnel->receive(request), card_frame::identReply("RV-OUT4 HW:1.1 FW:2.0.7 BL:1.0"));
    send({0x21, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(module.lineHistory,
              (std::vector<LineSettings>{{19200, Parity::None}, {9600, Parity::None}}));
}

TEST(ModuleModel, TextDeviceAnswersOnlyAtItsLineAndCanCutALineInHalf) {
    TextDevice device;
    EXPECT_EQ(device.receive(toBytes("{P_?}\r\n{S}\r\n")),
              toBytes("(Current protocol#1)\r\n(S:KV0012345)\r\n"));
    EXPECT_EQ(device.receive(toBytes("{LAN_VER=?}\r\n")),
              toBytes("(LAN_VER)\r\n(WEB=1.0.4)\r\n(SRV=6.8.0)\r\n"));
    // A command split over two writes is still one command.
    EXPECT_TRUE(device.receive(toBytes("{F")).empty());
    EXPECT_EQ(device.receive(toBytes("}\r\n")), toBytes("(FW:3.1.2)\r\n"));
    EXPECT_EQ(device.receive(toBytes("{P_PRGRQST}")), toBytes("{P_PRGRQST_OK}"));

    device.halfLineReplies = 1;
    EXPECT_EQ(device.receive(toBytes("{I}\r\n")), toBytes("(I:RV-"));
    EXPECT_EQ(device.halfLinesSent, 1);

    device.addHandler([](const std::string& command) -> std::optional<Bytes> {
        if (command.rfind("(FLASH_IMAGE=", 0) == 0) return toBytes("OK\r\n");
        return std::nullopt;
    });
    EXPECT_EQ(device.receive(toBytes("(FLASH_IMAGE=00)\r\n")), toBytes("OK\r\n"));
    EXPECT_TRUE(device.receive(toBytes("{XYZ}\r\n")).empty());
    EXPECT_EQ(device.unknownCommands, 1);

    device.lineChanged({19200, Parity::None});
    EXPECT_TRUE(device.receive(toBytes("{I}\r\n")).empty());
    EXPECT_EQ(device.garbledBytes, 5u);
}

}  // namespace
}  // namespace kv::sim
