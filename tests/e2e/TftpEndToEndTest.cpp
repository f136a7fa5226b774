// A web package's firmware image over the real UDP and TCP channels: TFTP to the module
// model on 127.0.0.2 port 69, then the flash image check through the tunnel; every image
// kind with another host on 127.0.0.3 trying to acknowledge and end the upload.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
const std::string kIntruder = "127.0.0.3";

sockaddr_in ipv4(const std::string& address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

// The module's TFTP port, with another host that sees each of the tool's datagrams and
// races the module's answer with an acknowledgement of the next block and an ERROR.
class RacedReceiver : public sim::DatagramPeer {
  public:
    explicit RacedReceiver(sim::TftpReceiver& module) : module_(module) {}
    ~RacedReceiver() override { ::close(intruder_); }

    void startIntruder() {
        const sockaddr_in own = ipv4(kIntruder, 0);
        ASSERT_EQ(::bind(intruder_, reinterpret_cast<const sockaddr*>(&own), sizeof own), 0);
        racing_ = true;
    }
    bool intruderReceivedAnything() const {
        char byte = 0;
        return ::recv(intruder_, &byte, 1, MSG_DONTWAIT) >= 0;
    }

    std::vector<Datagram> receive(const Datagram& fromTool) override {
        const sockaddr_in tool = ipv4(fromTool.address, fromTool.port);
        const auto next = static_cast<std::uint8_t>(++forged_);
        const Bytes ack{0x00, 0x04, 0x00, next};
        const Bytes error{0x00, 0x05, 0x00, 0x03, 'f', 'u', 'l', 'l', 0x00};
        for (const Bytes* forged : {&ack, &error}) {
            if (!racing_) break;
            ::sendto(intruder_, forged->data(), forged->size(), 0,
                     reinterpret_cast<const sockaddr*>(&tool), sizeof tool);
        }
        return module_.receive(fromTool);
    }

  private:
    sim::TftpReceiver& module_;
    int intruder_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    bool racing_ = false;
    int forged_ = 0;
};

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
        world.bindUdp(kModule, kTftpPort, &port69);
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
    RacedReceiver port69{receiver};
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

TEST_F(TftpEndToEnd, AnotherHostCannotAcknowledgeNorEndTheUpload) {
    port69.startIntruder();
    const struct {
        const char* file;
        int kind;
        const char* slot;
    } images[] = {{"server.rom", kTftpKindWebServer, "X5"},
                  {"server.ro5", kTftpKindWebServerSecond, "X9"},
                  {"content.cob", kTftpKindWebContent, "WEB1"},
                  {"firmware.bin", kTftpKindFirmwareImage, "/var/firmware.img"}};
    for (const auto& image : images) {
        SCOPED_TRACE(image.file);
        const auto file = writeFile(image.file, 7 * 512 + 100);
        const auto refusedBefore = rig.logLinesWith("from " + kIntruder + ":");
        ASSERT_TRUE(TftpUpload(rig.ctx, kModule, file, image.kind));
        std::lock_guard<std::mutex> models(server->mutex());
        EXPECT_EQ(receiver.image(image.slot), content);
        EXPECT_TRUE(rig.ui.dialogs.empty());
        EXPECT_EQ(rig.logLinesWith("from " + kIntruder + ":") - refusedBefore, 1u)
            << "named once per upload";
    }
    EXPECT_FALSE(port69.intruderReceivedAnything());
}

}  // namespace
}  // namespace kv
