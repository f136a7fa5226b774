#include <gtest/gtest.h>

#include <chrono>

#include "PicTestRig.h"
#include "flash/PicFlash.h"
#include "flash/PicFrame.h"
#include "flash/PicLink.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::ScriptedUi;
using test::sequence;

class PicLinkTest : public test::PicTest {
  protected:
    void sendWrite(std::uint32_t address = 0x0800) {
        Bytes block = sequence(0x10, 16);
        PicSendPacket(rig.ctx, state, PicHeader(kPicWriteProgram, 2, address), block,
                      PicReadBackFlag(address, block));
    }
    void sendErase(std::uint32_t address = 0x0800) {
        PicSendPacket(rig.ctx, state, PicHeader(kPicEraseProgram, 1, address), {}, false);
    }
};

TEST_F(PicLinkTest, SilentTunnelIsRetriedReconnectedAndDeclaredLost) {
    pic.faults.dropEveryReply = true;
    sendWrite();

    ASSERT_EQ(tunnelSent().size(), 3u);
    EXPECT_EQ(tunnelSent()[0], tunnelSent()[1]);
    EXPECT_EQ(tunnelSent()[0], tunnelSent()[2]);
    EXPECT_EQ(rig.tcp1.connectCount, 2);  // first use and the reconnection before attempt 3
    EXPECT_EQ(rig.clock.elapsed(), 3 * kPicTunnelReplyWait + 2 * kPicReconnectPause);
    auto lines = logLinesWith("error #");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Data sending error #1! 1", "Data sending error #2! 2",
                         "Connection loss error #102! 3", "Data sending error #106 DLE!"}));
    EXPECT_FALSE(rig.state.RowOk);
    EXPECT_EQ(rig.state.RetransmissionCount, 3);
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_EQ(rig.ui.dialogs[0].text,
              "An error occured during the process\r\nPlease repeat the upgrade procedure!");
    EXPECT_TRUE(rig.ui.memo.empty());  // these lines go to the log file only

    // With the row failed a frame still goes out, but nothing is awaited.
    rig.ui.dialogs.clear();
    auto before = rig.clock.elapsed();
    sendErase();
    EXPECT_EQ(tunnelSent().size(), 4u);
    EXPECT_EQ(rig.clock.elapsed(), before);
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

TEST_F(PicLinkTest, LossLineNamesTheCommand) {
    pic.faults.dropEveryReply = true;
    sendErase();
    rig.state.RowOk = true;
    PicReadData(rig.ctx, state, kPicReadProgram, 0x0800);
    rig.state.RowOk = true;
    PicWriteData(rig.ctx, state, kPicWriteEeprom, Bytes{0x00}, 1, 0x3FF);
    EXPECT_EQ(
        logLinesWith("Connection loss"),
        (std::vector<std::string>{"Connection loss error #103! 3", "Connection loss error #101! 6",
                                  "Connection loss error #105! 9"}));
}

TEST_F(PicLinkTest, RetransmissionAnsweredCountsOnce) {
    pic.faults.dropFirstReply = true;
    sendWrite();
    EXPECT_EQ(tunnelSent().size(), 2u);
    EXPECT_EQ(rig.state.RetransmissionCount, 1);
    EXPECT_TRUE(rig.state.RowOk);
    EXPECT_EQ(logLinesWith("error #"), (std::vector<std::string>{"Data sending error #1! 1"}));
    EXPECT_EQ(rig.clock.elapsed(), kPicTunnelReplyWait);
    EXPECT_EQ(pic.counters.writes, 2);  // the card took the frame both times
}

TEST_F(PicLinkTest, ReadAfterWriteUsesTheExpectedLength) {
    // Fifteen 0xFF and 0xE7 at 0x0800: the read reply's checksum travels stuffed (26 bytes).
    Bytes block(15, 0xFF);
    block.push_back(0xE7);
    PicWriteData(rig.ctx, state, kPicWriteProgram, block, 16, 0x0800);
    EXPECT_EQ(tunnelSent().back().size(), 25u);
    EXPECT_EQ(state.PicExpectedReplyLength, 26);
    PicReadData(rig.ctx, state, kPicReadProgram, 0x0800);
    EXPECT_EQ(tunnelSent().back(), (Bytes{0x0F, 0x0F, 0x01, 0x10, 0x00, 0x08, 0x00, 0xE7, 0x04}));
    EXPECT_EQ(Bytes(state.PicReplyData.begin(), state.PicReplyData.end()), block);
    EXPECT_EQ(state.PicReplyCount, 25);
    EXPECT_EQ(rig.clock.elapsed(), 0ms);
}

// A card that answers its first frame twice, as a late reply to a retransmission would.
class EchoTwicePeer : public sim::StreamPeer {
  public:
    explicit EchoTwicePeer(sim::PicBootloader& pic) : pic_(pic) {}
    Bytes receive(ByteView data) override {
        Bytes out = pic_.receive(data);
        if (first_) {
            Bytes again = out;
            out.insert(out.end(), again.begin(), again.end());
        }
        first_ = false;
        return out;
    }

  private:
    sim::PicBootloader& pic_;
    bool first_ = true;
};

TEST_F(PicLinkTest, LeftoverReplyIsNotTakenForTheNextOne) {
    rig.world.listenTcp(kAddress, kTunnelPort, [&]() -> std::unique_ptr<sim::StreamPeer> {
        pic.connectionOpened();
        return std::make_unique<EchoTwicePeer>(pic);
    });
    Bytes block = sequence(0x40, 16);
    PicWriteVerify(rig.ctx, state, false, kPicWriteProgram, block, 16, 0x0800);
    EXPECT_EQ(rig.state.RewriteCount, 0);
    EXPECT_TRUE(rig.state.RowOk);
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

TEST_F(PicLinkTest, TunnelFollowsThePortOfTheDevice) {
    sim::PicBootloader other;
    rig.world.listenTcp(kAddress, 10002, other.connectionFactory());
    rig.tcp1.setHost(kAddress);
    rig.tcp1.setPort(10002);
    ASSERT_TRUE(rig.tcp1.connect(1000ms));
    sendErase();
    EXPECT_EQ(rig.tcp1.port(), kTunnelPort);
    EXPECT_EQ(pic.counters.erases, 1);
    EXPECT_EQ(other.counters.erases, 0);
}

TEST_F(PicLinkTest, OversizedPacketIsRefusedBeforeSending) {
    PicSendPacket(rig.ctx, state, PicHeader(kPicWriteEeprom, 0x10, 0), Bytes(27, 0x11), false);
    EXPECT_TRUE(tunnelSent().empty());
    EXPECT_EQ(logLinesWith("#107"),
              (std::vector<std::string>{"Error while matching header #107:\rPacket too long"}));
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Error while matching header:\rPacket too long");
}

TEST_F(PicLinkTest, NoTransportNoFrame) {
    rig.state.ConnectionKind = ConnectionKind::Usb;
    sendWrite();
    EXPECT_TRUE(tunnelSent().empty());
    EXPECT_TRUE(rig.ui.dialogs.empty());
    EXPECT_TRUE(rig.state.RowOk);
}

TEST_F(PicLinkTest, SerialExchangeReadsRepliesByteByByte) {
    useSerial();
    Bytes block = sequence(0x20, 16);
    PicWriteVerify(rig.ctx, state, false, kPicWriteProgram, block, 16, 0x0800);
    ASSERT_EQ(rig.com1.sent.size(), 2u);
    EXPECT_EQ(Bytes(state.PicReplyData.begin(), state.PicReplyData.end()), block);
    // The read reply ends once the line stayed quiet for 100 ms after its last byte.
    EXPECT_EQ(rig.clock.elapsed(), kPicSerialReplyGap);
    EXPECT_EQ(rig.state.RetransmissionCount, 0);

    PicWriteData(rig.ctx, state, kPicWriteEeprom, Bytes{1, 2}, 2, 0x10);
    EXPECT_EQ(pic.eeprom()[0x11], 2);
    EXPECT_EQ(rig.state.RetransmissionCount, 0);  // six reply bytes expected and received
}

TEST_F(PicLinkTest, SerialCardAtTheWrongBaudIsRetriedThenLost) {
    useSerial(9600);
    sendErase();
    EXPECT_EQ(rig.com1.sent.size(), 3u);
    EXPECT_EQ(rig.clock.elapsed(), 3 * kPicSerialFirstByteWait);
    EXPECT_EQ(logLinesWith("error #"),
              (std::vector<std::string>{"Data sending error #1! 1", "Data sending error #2! 2",
                                        "Connection loss error #103! 3",
                                        "Data sending error #106 DLE!"}));
    EXPECT_FALSE(rig.state.RowOk);
    EXPECT_EQ(pic.counters.erases, 0);
    EXPECT_GT(pic.counters.ignoredBytes, 0u);
}

}  // namespace
}  // namespace kv
