// kvsim as a separate process: what it prints, discovery by subnet broadcast, and the
// tunnel of the module it serves.
#include <gtest/gtest.h>

#include <QProcess>

#include "QtTcpClient.h"
#include "QtUdpSocket.h"
#include "device/Channels.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

class Kvsim : public ::testing::Test {
  protected:
    void start(const QStringList& arguments) {
        process.start(KVSIM_PATH, arguments);
        ASSERT_TRUE(process.waitForStarted(5000));
        while (!lines.contains("ready")) {
            ASSERT_TRUE(process.canReadLine() || process.waitForReadyRead(5000))
                << process.readAllStandardError().toStdString();
            while (process.canReadLine()) lines << QString(process.readLine()).trimmed();
        }
    }
    ~Kvsim() override {
        process.terminate();
        if (!process.waitForFinished(3000)) process.kill();
    }
    QProcess process;
    QStringList lines;
};

TEST_F(Kvsim, ServesTheModuleAndAnswersABroadcastQuery) {
    start({"--family", "panel", "--address", "127.0.0.3"});
    EXPECT_TRUE(lines.contains("kvsim: family panel"));
    EXPECT_TRUE(lines.contains("tcp 127.0.0.3:10001"));
    EXPECT_TRUE(lines.contains("tcp 127.0.0.3:30718"));
    EXPECT_TRUE(lines.contains("udp 127.0.0.3:30704"));
    EXPECT_TRUE(lines.contains("udp 127.0.0.3:30718"));

    // The tool queries from its own port 30718, where it also listens.
    QtUdpSocket udp;
    ASSERT_TRUE(udp.bind(30718, true));
    udp.sendTo("127.0.0.255", 30718, Bytes{0x00, 0x00, 0x00, 0xF6});
    auto answer = udp.receive(2000ms);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->address, "127.0.0.3");
    ASSERT_GE(answer->data.size(), 30u);
    EXPECT_EQ(answer->data[3], 0xF7);

    QtTcpClient tunnel;
    tunnel.setHost("127.0.0.3");
    tunnel.setPort(10001);
    ASSERT_TRUE(Connect(tunnel));
    SendLine(tunnel, "{I}");
    ASSERT_TRUE(WaitForData(tunnel, 2000ms));
    EXPECT_EQ(ReceiveLine(tunnel), "(I:RV-PNL16)");
}

TEST_F(Kvsim, RefusesBadOptions) {
    const QStringList refused[] = {
        {"--address", "10.0.0.1"},
        {"--fleet", "2", "--fleet-base", "10.0.0.2"},
        {"--fleet", "3", "--fleet-base", "127.1.0.253"},  // would run into the broadcast
        {"--fleet", "1", "--fleet-base", "127.1.0.x"},
        {"--fleet", "1", "--tunnel-delay", "-5"},
        {"--fleet", "1", "--tunnel-delay", "20ms"},
        {"--fleet", "1", "--tunnel-delay", "99999999"},
    };
    for (const QStringList& arguments : refused) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QProcess refusing;
        refusing.start(KVSIM_PATH, arguments);
        ASSERT_TRUE(refusing.waitForFinished(5000));
        EXPECT_EQ(refusing.exitCode(), 2);
    }
}

// A second site's fleet on its own range, each tunnel answer held back by the round trip.
TEST_F(Kvsim, FleetOnAnotherRangeAnswersAfterTheRoundTrip) {
    constexpr auto kRoundTrip = 300ms;
    start({"--fleet", "2", "--fleet-base", "127.1.0.5", "--tunnel-delay",
           QString::number(kRoundTrip.count())});
    EXPECT_TRUE(lines.contains("kvsim: panel-upgrade at 127.1.0.5"));
    EXPECT_TRUE(lines.contains("kvsim: extender-upgrade at 127.1.0.6"));

    for (const std::string address : {"127.1.0.5", "127.1.0.6"}) {
        SCOPED_TRACE(address);
        QtTcpClient tunnel;
        tunnel.setHost(address);
        tunnel.setPort(10001);
        ASSERT_TRUE(Connect(tunnel));
        const auto sent = std::chrono::steady_clock::now();
        SendLine(tunnel, "{I}");
        ASSERT_TRUE(WaitForData(tunnel, 10 * kRoundTrip));
        EXPECT_GE(std::chrono::steady_clock::now() - sent, kRoundTrip);
        EXPECT_EQ(ReceiveLine(tunnel).rfind("(I:", 0), 0u);
    }
}

}  // namespace
}  // namespace kv
