// A web package's firmware image over the real UDP and TCP channels: TFTP to the module
// model on 127.0.0.2 port 69, then the flash image check through the tunnel.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include "FlashImageCheck.h"
#include "RealRig.h"
#include "TftpReceiver.h"
#include "World.h"
#include "flash/TftpFlashImage.h"
#include "flash/TftpPackets.h"
#include "flash/TftpUpload.h"
#include "server/WorldServer.h"
#include "server/WorldServerThread.h"

namespace kv {
namespace {

const std::string kModule = "127.0.0.2";

// The module's GPIO port: answers every message, as a module does.
class AnsweringGpio : public sim::DatagramPeer {
  public:
    std::vector<Datagram> receive(const Datagram& fromTool) override {
        messages.push_back(fromTool.data);
        return {Datagram{fromTool.address, fromTool.port, Bytes{0x1B, 0, 0, 0, 0}}};
    }
    std::vector<Bytes> messages;
};

class TftpEndToEnd : public ::testing::Test {
  protected:
    TftpEndToEnd() : check(receiver) {
        world.bindUdp(kModule, kTftpPort, &receiver);
        world.bindUdp(kModule, 30704, &gpio);
        world.listenTcp(kModule, 10001,
                        [this] { return std::make_unique<sim::FlashImageCheckPeer>(check); });
        server = std::make_unique<sim::WorldServerThread>(world);
        server->run([](sim::WorldServer& s) { s.serveAll(); });
        TMatrixRec device;
        device.IP = kModule;
        device.Port = 10001;
        rig.state.DeviceList.push_back(device);
        rig.state.CurrentIP = kModule;
    }

    std::string writeFile(const std::string& name, std::size_t size) {
        content.resize(size);
        for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<std::uint8_t>(i % 253);
        const auto path = (rig.folder / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        return path;
    }

    sim::World world;
    sim::TftpReceiver receiver;
    sim::FlashImageCheck check;
    AnsweringGpio gpio;
    std::unique_ptr<sim::WorldServerThread> server;
    test::RealRig rig;
    Bytes content;
};

TEST_F(TftpEndToEnd, FirmwareImageIsTransferredCheckedAndFlashed) {
    const auto file = writeFile("firmware.bin", 5 * 512);
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, file, kTftpKindFirmwareImage));

    std::lock_guard<std::mutex> models(server->mutex());
    EXPECT_EQ(receiver.image("/var/firmware.img"), content);
    EXPECT_EQ(receiver.blockNumbers.size(), 6u) << "five full blocks and the empty one";
    EXPECT_EQ(check.lastDigest, sim::Md5UpperHex(content));
    EXPECT_EQ(check.flashed, content);
    ASSERT_FALSE(gpio.messages.empty());
    EXPECT_EQ(gpio.messages.back()[0], 0x21) << "bootloader mode left before the check";
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

}  // namespace
}  // namespace kv
