// One contract for every TcpClient: the fake over a scripted world, the fake through the
// network module model, and the Qt client against the same models on a loopback server.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include <QTcpServer>

#include "FakeChannels.h"
#include "NetworkModule.h"
#include "QtTcpClient.h"
#include "TextDevice.h"
#include "VirtualClock.h"
#include "World.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "server/WorldServer.h"
#include "server/WorldServerThread.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

// Hands a connection's bytes to one shared device.
class Forward : public sim::StreamPeer {
  public:
    explicit Forward(sim::StreamPeer& to) : to_(to) {}
    Bytes receive(ByteView data) override { return to_.receive(data); }

  private:
    sim::StreamPeer& to_;
};

// The fake client straight to a text device.
struct FakeTarget {
    FakeTarget() {
        world.listenTcp("127.0.0.1", 10001, [this] { return std::make_unique<Forward>(device); });
    }
    TcpClient& client() { return tcp; }
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex); }
    std::string host = "127.0.0.1";
    int port = 10001;
    int deadPort = 10002;
    sim::World world;
    test::VirtualClock clock;
    test::FakeTcpClient tcp{world, clock};
    sim::TextDevice device;
    std::mutex mutex;
};

// The fake client through the module's tunnel to the device behind it.
struct ModuleTarget {
    ModuleTarget() {
        module.setSerialDevice(&device);
        module.attach(world);
    }
    TcpClient& client() { return tcp; }
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex); }
    std::string host = "127.0.0.2";
    int port = 10001;
    int deadPort = 10009;
    sim::World world;
    test::VirtualClock clock;
    test::FakeTcpClient tcp{world, clock};
    sim::NetworkModule module;
    sim::TextDevice device;
    std::mutex mutex;
};

// The Qt client through real sockets to the same module model.
struct QtTarget {
    QtTarget() {
        module.setSerialDevice(&device);
        module.attach(world);
        server = std::make_unique<sim::WorldServerThread>(world);
        server->run(
            [this](sim::WorldServer& s) { port = s.serveTcp("127.0.0.2", 10001, "127.0.0.1", 0); });
        deadPort = closedPort();
    }
    // A port that was bound once and then let go: nobody listens there.
    static int closedPort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        int p = probe.serverPort();
        probe.close();
        return p;
    }
    TcpClient& client() { return tcp; }
    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(server->mutex()); }
    std::string host = "127.0.0.1";
    int port = 0;
    int deadPort = 0;
    sim::World world;
    sim::NetworkModule module;
    sim::TextDevice device;
    std::unique_ptr<sim::WorldServerThread> server;
    QtTcpClient tcp;
};

template <typename Target>
class TcpClientContract : public ::testing::Test {
  protected:
    TcpClientContract() {
        t.client().setHost(t.host);
        t.client().setPort(t.port);
    }
    Target t;
};

using Targets = ::testing::Types<FakeTarget, ModuleTarget, QtTarget>;
TYPED_TEST_SUITE(TcpClientContract, Targets);

TYPED_TEST(TcpClientContract, CommandAndReplyLine) {
    TcpClient& c = this->t.client();
    ASSERT_TRUE(Connect(c));
    EXPECT_TRUE(c.connected());
    SendLine(c, "{I}");
    ASSERT_TRUE(WaitForData(c, 2000ms));
    EXPECT_EQ(ReceiveLine(c), "(I:RV-FS64S)");
    EXPECT_FALSE(WaitForData(c, 100ms));
}

TYPED_TEST(TcpClientContract, TwoLinesInOneArrivalAreReadOneByOne) {
    TcpClient& c = this->t.client();
    ASSERT_TRUE(Connect(c));
    SendBytes(c, toBytes("{I}\r\n{S}\r\n"));
    ASSERT_TRUE(WaitForData(c, 2000ms));
    EXPECT_EQ(ReceiveLine(c), "(I:RV-FS64S)");
    EXPECT_EQ(ReceiveLine(c), "(S:KV0012345)");
}

TYPED_TEST(TcpClientContract, PeekLeavesBytesForRead) {
    TcpClient& c = this->t.client();
    ASSERT_TRUE(Connect(c));
    SendLine(c, "{F}");
    ASSERT_TRUE(WaitForData(c, 2000ms));
    EXPECT_EQ(c.peek(4), toBytes("(FW:"));
    EXPECT_EQ(c.peek(4), toBytes("(FW:"));
    EXPECT_EQ(ReceiveByte(c), '(');
    EXPECT_EQ(c.read(3), toBytes("FW:"));
}

TYPED_TEST(TcpClientContract, HalfALineComesBackAfterTheSilenceBound) {
    TcpClient& c = this->t.client();
    ASSERT_TRUE(Connect(c));
    {
        auto lock = this->t.lock();
        this->t.device.halfLineReplies = 1;
    }
    SendLine(c, "{I}");
    ASSERT_TRUE(WaitForData(c, 2000ms));
    EXPECT_EQ(ReceiveLine(c), "(I:RV-");
}

TYPED_TEST(TcpClientContract, NobodyListeningAndClosedClients) {
    TcpClient& c = this->t.client();
    c.setPort(this->t.deadPort);
    EXPECT_FALSE(Connect(c));
    EXPECT_FALSE(c.connected());
    EXPECT_THROW(SendLine(c, "{I}"), ChannelError);
    EXPECT_FALSE(WaitForData(c, 100ms));

    c.setPort(this->t.port);
    ASSERT_TRUE(Connect(c));
    Disconnect(c);
    Disconnect(c);
    EXPECT_FALSE(c.connected());
    EXPECT_THROW(SendBytes(c, Bytes{0x01}), ChannelError);
    // Reconnecting gives a fresh stream.
    ASSERT_TRUE(Connect(c));
    SendLine(c, "{S}");
    EXPECT_EQ(ReceiveLine(c), "(S:KV0012345)");
}

}  // namespace
}  // namespace kv
