// The module operations and device channels over the real Qt sockets, against the
// module and card models served on 127.0.0.2.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "RealRig.h"
#include "Scenario.h"
#include "World.h"
#include "device/CardIdent.h"
#include "device/Channels.h"
#include "module/ModuleOperations.h"
#include "server/WorldServer.h"
#include "server/WorldServerThread.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
const std::string kModule = "127.0.0.2";

class ModuleEndToEnd : public ::testing::Test {
  protected:
    explicit ModuleEndToEnd(sim::DemoFamily family = sim::DemoFamily::Matrix) {
        sim::DemoOptions options;
        options.family = family;
        options.addresses = {kModule};
        devices = sim::buildDemoWorld(world, options);
        server = std::make_unique<sim::WorldServerThread>(world);
        server->run([](sim::WorldServer& s) { s.serveAll(); });
        TMatrixRec device;
        device.IP = kModule;
        device.Port = 10001;
        rig.state.DeviceList.push_back(device);
        rig.state.CurrentIP = kModule;
        tunnel().setHost(kModule);
        tunnel().setPort(10001);
    }
    TcpClient& tunnel() { return *rig.ctx.ports.TcpClient1; }
    std::unique_lock<std::mutex> models() { return std::unique_lock<std::mutex>(server->mutex()); }
    sim::NetworkModule& module() { return *devices.modules[0]; }

    std::string ask(const std::string& command) {
        SendLine(tunnel(), command);
        if (!WaitForData(tunnel(), 2000ms)) return "<silent>";
        return ReceiveLine(tunnel());
    }

    sim::World world;
    sim::DemoDevices devices;
    std::unique_ptr<sim::WorldServerThread> server;
    test::RealRig rig;
};

TEST_F(ModuleEndToEnd, TextCommandsThroughTheTunnel) {
    ASSERT_TRUE(Connect(tunnel()));
    EXPECT_EQ(ask("{P_?}"), "(Current protocol#1)");
    EXPECT_EQ(ask("{I}"), "(I:RV-FS64S)");
    EXPECT_EQ(ask("{S}"), "(S:KV1000)");
    EXPECT_EQ(ask("{F}"), "(FW:3.1.2)");
    EXPECT_EQ(ask("{LAN_VER=?}"), "(LAN_VER)");
    EXPECT_EQ(ReceiveLine(tunnel()), "(WEB=1.0.4)");
    EXPECT_EQ(ReceiveLine(tunnel()), "(SRV=6.8.0)");
    Disconnect(tunnel());
}

TEST_F(ModuleEndToEnd, GpioSelectsAMatrixCardThatIdentifiesThroughTheTunnel) {
    const auto start = std::chrono::steady_clock::now();
    set_GPIO_directions(rig.ctx, "OUTPUT", kModule);
    // Walk number 5: b0 = 0, b1 = 1, b5 = b6 = 1, final level 1.
    set_shift_register(rig.ctx, {0, 1, 0, 0, 0, 1, 1, 0}, 1, kModule);
    enter_BL_mode(rig.ctx, kModule, 19200, 0);
    // Every message was answered: nowhere near one 2 s answer wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1900ms);
    {
        auto lock = models();
        EXPECT_EQ(module().gpio().messages.size(), 32u);
        EXPECT_EQ(module().gpio().latched(), std::optional<std::uint16_t>(0xC5));
        EXPECT_EQ(module().serialLine(), (sim::LineSettings{19200, Parity::None}));
    }
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network800),
              "RV-OUT4 HW:1.1 FW:2.0.7 BL:1.0");

    exit_BL_mode(rig.ctx, kModule);
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network300), "No card found");
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

TEST_F(ModuleEndToEnd, SetupRecordChangeMovesTheSerialSide) {
    setup_19200_none(rig.ctx, kModule);
    EXPECT_TRUE(rig.ui.dialogs.empty());
    {
        auto lock = models();
        ASSERT_EQ(module().storedRecords.size(), 1u);
        EXPECT_EQ(module().serialLine(), (sim::LineSettings{19200, Parity::None}));
    }
    // The main controller runs at 9600: at 19200 it stays silent.
    ASSERT_TRUE(Connect(tunnel()));
    EXPECT_EQ(ask("{I}"), "<silent>");
    Disconnect(tunnel());

    setup_9600_none(rig.ctx, kModule);
    ASSERT_TRUE(Connect(tunnel()));
    EXPECT_EQ(ask("{I}"), "(I:RV-FS64S)");
    Disconnect(tunnel());
    {
        auto lock = models();
        EXPECT_EQ(module().storedRecords.size(), 2u);
    }
    EXPECT_EQ(rig.ui.memo.back(), "Setup 9600 BR no parity");
}

TEST_F(ModuleEndToEnd, SilentModuleCostsTheRealAnswerWait) {
    {
        auto lock = models();
        module().setSilent(true);
    }
    const auto start = std::chrono::steady_clock::now();
    select_GPIO(rig.ctx, 7, kModule);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 1900ms);
    EXPECT_LT(waited, 3000ms);

    setup_57600_none(rig.ctx, kModule);
    ASSERT_EQ(rig.ui.dialogs.size(), 2u);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Connection lost with the device");
    EXPECT_EQ(rig.ui.dialogs[1].text, "Error in Setup:\rConnection Lost Error");
}

}  // namespace
}  // namespace kv
