// Opening devices over the real channels: the tool's Qt sockets and serial port against
// the simulated families served on 127.0.0.x and on a pty.
#include <gtest/gtest.h>

#include <array>
#include <mutex>

#include "RealRig.h"
#include "Scenario.h"
#include "World.h"
#include "device/ChannelEvents.h"
#include "device/Connect.h"
#include "server/WorldServer.h"
#include "server/WorldServerThread.h"

namespace kv {
namespace {

using Row = std::array<std::string, 5>;

class ConnectEndToEnd : public ::testing::Test {
  protected:
    ConnectEndToEnd() : ptyLink((rig.folder / "COM3").string()) {
        matrix = build(sim::DemoFamily::Matrix, "127.0.0.2");
        direct = build(sim::DemoFamily::DirectMatrix, "127.0.0.3");
        sim::DemoOptions serialOptions;
        serialOptions.family = sim::DemoFamily::Serial;
        serialOptions.serialPort = ptyLink;
        serial = sim::buildDemoWorld(world, serialOptions);
        server = std::make_unique<sim::WorldServerThread>(world);
        server->run([this](sim::WorldServer& s) {
            s.serveAll();
            s.servePty(ptyLink, ptyLink);
        });
        RegisterChannelEvents(rig.ctx);
        list("127.0.0.2", *matrix.controllers[0]);
        list("127.0.0.3", *direct.controllers[0]);
        TMatrixRec port;
        port.IP = ptyLink;
        rig.state.DeviceList.push_back(port);
        rig.state.comTree.push_back(ptyLink);
    }

    sim::DemoDevices build(sim::DemoFamily family, const std::string& address) {
        sim::DemoOptions options;
        options.family = family;
        options.addresses = {address};
        return sim::buildDemoWorld(world, options);
    }
    void list(const std::string& address, const sim::TextDevice& controller) {
        TMatrixRec device;
        device.IP = address;
        device.MAC = "00-20-4A-9B-0C-11";
        device.ModuleVersion = "6.11.0";
        device.Port = 10001;
        rig.state.DeviceList.push_back(device);
        rig.state.networkTree.push_back(address + " " + controller.config.ident);
    }
    std::vector<Row> grid() const {
        std::vector<Row> rows;
        for (const auto& r : rig.ui.grid)
            rows.push_back({r.cells[0], r.cells[1], r.cells[2], r.cells[3], r.cells[4]});
        return rows;
    }
    std::unique_lock<std::mutex> models() { return std::unique_lock<std::mutex>(server->mutex()); }

    sim::World world;
    sim::DemoDevices matrix, direct, serial;
    test::RealRig rig;
    std::string ptyLink;
    std::unique_ptr<sim::WorldServerThread> server;
};

TEST_F(ConnectEndToEnd, MatrixFrameThenDirectMatrixOverTheNetwork) {
    rig.ui.answers = {MsgButton::Yes};
    ConnectNetworkDevice(rig.ctx, 0);
    EXPECT_TRUE(rig.ui.dialogsOf(test::ScriptedUi::Dialog::Message).empty());
    EXPECT_EQ(rig.ui.properties.name, "I:RV-FS64S");
    EXPECT_EQ(grid(), (std::vector<Row>{{"RV-CTL2", "n/a", "", "3.1.2", ""},
                                        {"RV-IN4 2", "HW:1.0", "BL:1.0", "FW:2.1.3", ""},
                                        {"RV-OUT4 5", "HW:1.1", "BL:1.0", "FW:2.0.7", ""},
                                        {"Web Package", "", "", "S:6.8.0 W:1.0.4", ""}}));
    {
        auto lock = models();
        EXPECT_TRUE(matrix.modules[0]->gpio().bootloaderMode());
        EXPECT_EQ(matrix.modules[0]->serialLine(), (sim::LineSettings{19200, Parity::None}));
    }

    // The matrix is above 300: it is released without commands, then the direct one
    // opens with its web server's version.
    rig.ui.answers = {MsgButton::Yes};
    ConnectNetworkDevice(rig.ctx, 1);
    EXPECT_EQ(rig.state.CurrentIP, "127.0.0.3");
    EXPECT_EQ(rig.state.DeviceFwNumber, 423);
    EXPECT_EQ(grid(), (std::vector<Row>{{"RV6X6-2WQRI", "n/a", "", "1.2.3", ""},
                                        {"RV-IN6 1", "HW:1.0", "BL:1.0", "FW:1.0.9", ""},
                                        {"PSV_AGG 7", "HW:1.0", "BL:1.0", "FW:1.0.2", ""},
                                        {"Web Server", "", "", "FW:6.11.0", ""},
                                        {"Web Content", "", "", "FW:1.0.4", ""}}));
    {
        auto lock = models();
        EXPECT_EQ(direct.webServers[0]->requests.size(), 1u);
        EXPECT_EQ(direct.modules[0]->serialLine(), (sim::LineSettings{19200, Parity::None}));
        EXPECT_FALSE(direct.modules[0]->gpio().bootloaderMode());
    }
    EXPECT_TRUE(rig.ui.enabled(UiElement::Grids));
    EXPECT_TRUE(rig.ui.enabled(UiElement::Upgrade));
}

TEST_F(ConnectEndToEnd, FibreExtenderOnAPty) {
    rig.ui.answers = {MsgButton::Yes};
    ConnectSerialDevice(rig.ctx, 0);
    EXPECT_TRUE(rig.ui.dialogsOf(test::ScriptedUi::Dialog::Message).empty());
    EXPECT_EQ(grid(),
              (std::vector<Row>{{"LNK-FBR-SN330-MAX", "HW:1.0", "BL:1.0", "FW:1.0.4", ""}}));
    EXPECT_EQ(rig.ctx.ports.ComPort1->baud(), 19200);
    auto lock = models();
    EXPECT_EQ(serial.controllers[0]->commands, (std::vector<std::string>{"{I}", "{P_PRGRQST}"}));
    EXPECT_EQ(serial.cards[0]->identRequests, 1);
}

}  // namespace
}  // namespace kv
