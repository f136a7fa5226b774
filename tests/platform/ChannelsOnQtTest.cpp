// The Qt serial, UDP and stream channels against device models on a pty and on
// 127.0.0.1 with ephemeral ports.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include <pty.h>
#include <unistd.h>

#include "FakeRig.h"
#include "ModuleGpio.h"
#include "QtSerialPort.h"
#include "QtStreamSocket.h"
#include "QtUdpSocket.h"
#include "TextDevice.h"
#include "World.h"
#include "core/ports/ChannelError.h"
#include "device/ChannelEvents.h"
#include "device/Channels.h"
#include "server/WorldServer.h"
#include "server/WorldServerThread.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

std::string uniqueLink(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string(name) + "-" + std::to_string(::getpid())))
        .string();
}

class SerialOnPty : public ::testing::Test {
  protected:
    SerialOnPty() {
        world.attachSerial("fibre", &device);
        server.run([this](sim::WorldServer& s) { s.servePty("fibre", link); });
        port.setWarningSink([this](const std::string& w) { warnings.push_back(w); });
        rig.ports.ComPort1 = &port;
    }
    test::FakeRig rig;  // its log, Ui and state; the real port replaces the fake one
    sim::World world;
    sim::TextDevice device;
    sim::WorldServerThread server{world};
    std::string link = uniqueLink("kv-pty");
    QtSerialPort port;
    std::vector<std::string> warnings;
};

TEST_F(SerialOnPty, TextCommandRoundTripAtTheDevicesBaudOnly) {
    OpenPort(port, link);
    WriteText(port, "{I}\r\n");
    SerialReply reply = ReadReply(rig.ctx, port, ')');
    EXPECT_FALSE(reply.timeout);
    EXPECT_EQ(reply.text, "(I:RV-FS64S)");
    // The reply reader stops at the bracket; the line end is still to come.
    EXPECT_EQ(ReadChar(port), '\r');
    EXPECT_EQ(ReadChar(port), '\n');

    // The device runs at 9600: at another rate it hears garbage. (A pty tells the rate
    // only as it stands when the bytes are taken, so the test waits before switching back.)
    SetBaud(port, 19200);
    WriteText(port, "{I}\r\n");
    EXPECT_EQ(ReadByte(port, 500ms), std::nullopt);
    {
        std::lock_guard lock(server.mutex());
        EXPECT_GT(device.garbledBytes, 0u);
    }
    SetBaud(port, 9600);
    WriteText(port, "{F}\r\n");
    EXPECT_EQ(ReadReply(rig.ctx, port, ')').text, "(FW:3.1.2)");
    ClosePort(port);
    EXPECT_THROW(WriteText(port, "{I}\r\n"), ChannelError);
}

TEST_F(SerialOnPty, RefusedParityIsReportedNotFatal) {
    OpenPort(port, link);
    EXPECT_NO_THROW(SetParity(port, Parity::Even));
    EXPECT_EQ(port.parity(), Parity::Even);
    // Whether the pty kept it or not, the port goes on working.
    SetParity(port, Parity::None);
    WriteText(port, "{I}\r\n");
    EXPECT_EQ(ReadReply(rig.ctx, port, ')').text, "(I:RV-FS64S)");
    for (const auto& w : warnings) EXPECT_NE(w.find("parity"), std::string::npos) << w;
}

TEST_F(SerialOnPty, ArrivalsReachTheReceiveBufferThroughThePump) {
    RegisterChannelEvents(rig.ctx);
    OpenPort(port, link);
    rig.state.RxCount = 0;
    WriteText(port, "{S}\r\n");
    for (int i = 0; i < 50 && rig.state.RxCount < 15; ++i) {
        std::this_thread::sleep_for(20ms);
        rig.ctx.ProcessMessages();
    }
    EXPECT_EQ(toText(rig.state.rxBytes()), "(S:KV0012345)\r\n");
}

TEST(SerialPort, MissingPortFailsToOpen) {
    QtSerialPort port;
    EXPECT_THROW(OpenPort(port, "/dev/kv-no-such-port"), ChannelError);
    EXPECT_FALSE(port.isOpen());
    EXPECT_TRUE(port.poll().empty());
}

// Frames go to the driver in as many pieces as it takes; a far end that reads slowly gets
// them whole and in order, one that never reads ends the write with an error in bounded
// time instead of blocking the engine.
TEST(SerialPort, WritesLargerThanTheDriverTakesAtOnce) {
    struct Case {
        const char* what;
        bool farEndReads;
    };
    for (const Case c : {Case{"slow reader", true}, Case{"nobody reads", false}}) {
        int master = -1, slave = -1;
        char name[128] = {};
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0) << c.what;
        QtSerialPort port;
        port.setName(name);
        port.open();
        Bytes data(256 * 1024);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        Bytes received;
        std::thread reader([&] {
            if (!c.farEndReads) return;
            std::uint8_t chunk[4096];
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (received.size() < data.size() && std::chrono::steady_clock::now() < deadline) {
                const ssize_t n = ::read(master, chunk, sizeof chunk);
                if (n > 0) received.insert(received.end(), chunk, chunk + n);
                std::this_thread::sleep_for(1ms);
            }
        });
        const auto start = std::chrono::steady_clock::now();
        if (c.farEndReads) {
            EXPECT_NO_THROW(port.write(data)) << c.what;
        } else {
            EXPECT_THROW(port.write(data), ChannelError) << c.what;
            EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << c.what;
        }
        reader.join();
        if (c.farEndReads) {
            EXPECT_TRUE(received == data) << c.what << ": " << received.size();
        }
        port.close();
        ::close(slave);
        ::close(master);
    }
}

TEST(UdpOnLoopback, GpioMessageIsAnsweredAndSilenceTimesOut) {
    sim::World world;
    sim::ModuleGpio gpio;
    world.bindUdp("127.0.0.2", 30704, &gpio);
    sim::WorldServerThread server(world);
    std::uint16_t port = 0;
    server.run([&](sim::WorldServer& s) { port = s.serveUdp("127.0.0.2", 30704, "127.0.0.1", 0); });

    QtUdpSocket udp;
    ASSERT_TRUE(udp.bind(0, true));
    const Bytes message{0x1B, 0x07, 0xFF, 0xFF, 0xFF, 0x03, 0xFF, 0xFF, 0xFF};
    udp.sendTo("127.0.0.1", port, message);
    auto answer = udp.receive(2000ms);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->address, "127.0.0.1");
    EXPECT_EQ(answer->port, port);
    EXPECT_EQ(answer->data[0], 0x1B);
    {
        std::lock_guard lock(server.mutex());
        EXPECT_EQ(gpio.messages, std::vector<Bytes>{message});
        EXPECT_EQ(gpio.selectCode(), 3);
        gpio.silent = true;
    }
    udp.sendTo("127.0.0.1", port, message);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(udp.receive(300ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_THROW(udp.sendTo("no-such-host.invalid", port, message), ChannelError);
    // Answers are matched to the host asked by the address they come from.
    EXPECT_EQ(udp.addressOf("localhost"), "127.0.0.1");
    EXPECT_EQ(udp.addressOf("127.0.0.2"), "127.0.0.2");
    EXPECT_THROW(udp.addressOf("no-such-host.invalid"), ChannelError);
}

TEST(StreamOnLoopback, ConnectsInTheBackgroundAndDeliversThroughThePump) {
    sim::World world;
    sim::TextDevice device;
    world.listenTcp("127.0.0.2", 10001, [&device] {
        struct Forward : sim::StreamPeer {
            explicit Forward(sim::StreamPeer& d) : to(d) {}
            Bytes receive(ByteView data) override { return to.receive(data); }
            sim::StreamPeer& to;
        };
        return std::make_unique<Forward>(device);
    });
    sim::WorldServerThread server(world);
    std::uint16_t port = 0;
    server.run([&](sim::WorldServer& s) { port = s.serveTcp("127.0.0.2", 10001, "127.0.0.1", 0); });

    test::FakeRig rig;
    QtStreamSocket socket;
    rig.ports.ClientSocket1 = &socket;
    RegisterChannelEvents(rig.ctx);
    EXPECT_THROW(socket.send(toBytes("{I}\r\n")), ChannelError);
    socket.setHost("127.0.0.1");
    socket.setPort(port);
    socket.open();
    for (int i = 0; i < 100 && !socket.connected(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(socket.connected());

    rig.state.RxCount = 0;
    socket.send(toBytes("{I}\r\n"));
    for (int i = 0; i < 100 && rig.state.RxCount < 14; ++i) {
        std::this_thread::sleep_for(10ms);
        rig.ctx.ProcessMessages();
    }
    EXPECT_EQ(toText(rig.state.rxBytes()), "(I:RV-FS64S)\r\n");
    socket.close();
    EXPECT_FALSE(socket.connected());
}

}  // namespace
}  // namespace kv
