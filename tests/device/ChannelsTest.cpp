// Blocking tunnel client and COM port operations over the fake channels.
#include <gtest/gtest.h>

#include "FakeRig.h"
#include "ScriptedPeer.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "device/TextCommands.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

class TunnelTest : public ::testing::Test {
  protected:
    TunnelTest() {
        test::listenScripted(rig.world, "127.0.0.5", 10001, script);
        rig.tcp1.setHost("127.0.0.5");
        rig.tcp1.setPort(10001);
    }
    void answer(const std::string& text) {
        script.replies.push_back(toBytes(text));
        SendLine(rig.tcp1, "{I}");
    }
    test::FakeRig rig;
    test::Script script;
};

TEST_F(TunnelTest, LinesArrivingTogetherAreTakenOneAtATime) {
    ASSERT_TRUE(Connect(rig.tcp1));
    answer("(I:ONE)\r\n(S:TWO)\r\n");
    EXPECT_EQ(script.received.back(), toBytes("{I}\r\n"));
    ASSERT_TRUE(WaitForData(rig.tcp1, 4000ms));
    EXPECT_EQ(ReceiveLine(rig.tcp1), "(I:ONE)");
    EXPECT_EQ(rig.tcp1.peek(100), toBytes("(S:TWO)\r\n"));
    EXPECT_EQ(ReceiveLine(rig.tcp1), "(S:TWO)");
    EXPECT_EQ(rig.clock.elapsed(), 0ms);
}

TEST_F(TunnelTest, LineEndSplitAcrossTheLookAheadWindow) {
    ASSERT_TRUE(Connect(rig.tcp1));
    const std::string longLine(510, 'x');  // its CR is the 511th byte
    answer(longLine + "\r\nnext\r\n");
    EXPECT_EQ(ReceiveLine(rig.tcp1), longLine);
    EXPECT_EQ(ReceiveLine(rig.tcp1), "next");
    const std::string longer(1500, 'y');
    answer(longer + "\r\n");
    EXPECT_EQ(ReceiveLine(rig.tcp1), longer);
}

TEST_F(TunnelTest, HalfALineIsReturnedAfterTheSilenceBound) {
    ASSERT_TRUE(Connect(rig.tcp1));
    answer("(I:HAL");
    EXPECT_EQ(ReceiveLine(rig.tcp1), "(I:HAL");
    EXPECT_EQ(rig.clock.elapsed(), 4000ms);
    // Nothing at all: an empty text, not a hang.
    EXPECT_EQ(ReceiveLine(rig.tcp1), "");
    EXPECT_EQ(rig.clock.elapsed(), 8000ms);
}

TEST_F(TunnelTest, WaitForDataIsFalseOnSilenceAndWhenClosed) {
    EXPECT_FALSE(WaitForData(rig.tcp1, 3000ms));
    ASSERT_TRUE(Connect(rig.tcp1));
    EXPECT_FALSE(WaitForData(rig.tcp1, 300ms));
    EXPECT_EQ(rig.clock.elapsed(), 3300ms);
    Disconnect(rig.tcp1);
    Disconnect(rig.tcp1);
    EXPECT_THROW(SendLine(rig.tcp1, "{I}"), ChannelError);
}

TEST_F(TunnelTest, RawBytesAndSingleByteReads) {
    ASSERT_TRUE(Connect(rig.tcp1));
    script.replies.push_back({0x79, 0x1F});
    SendBytes(rig.tcp1, Bytes{0x7F});
    EXPECT_EQ(script.received.back(), (Bytes{0x7F}));
    EXPECT_EQ(ReceiveByte(rig.tcp1), 0x79);
    EXPECT_EQ(ReceiveBytes(rig.tcp1, 10), (Bytes{0x1F}));
    EXPECT_TRUE(ReceiveBytes(rig.tcp1, 10).empty());
    EXPECT_THROW(ReceiveByte(rig.tcp1), ChannelError);
}

TEST_F(TunnelTest, ConnectUntilUpRetriesWithPausesAndGivesUp) {
    rig.tcp1.setPort(10002);  // nobody listens there
    try {
        ConnectUntilUp(rig.ctx, rig.tcp1, "127.0.0.5");
        FAIL() << "no error";
    } catch (const KvError& e) {
        EXPECT_STREQ(e.what(), "Connection Lost Error");
    }
    const int attempts = rig.tcp1.connectCount;
    EXPECT_GT(attempts, 1);
    // Each failed attempt waits out the connect time-out; a pause lies between attempts.
    EXPECT_EQ(rig.clock.elapsed(), attempts * 3000ms + (attempts - 1) * 250ms);
    EXPECT_GE(rig.clock.elapsed(), 30000ms);
    EXPECT_LT(rig.clock.elapsed(), 40000ms);

    rig.tcp1.setPort(10001);
    rig.tcp1.setHost("somewhere-else");
    ConnectUntilUp(rig.ctx, rig.tcp1, "127.0.0.5");
    EXPECT_TRUE(rig.tcp1.connected());
    EXPECT_EQ(rig.tcp1.host(), "127.0.0.5");
    const int before = rig.tcp1.connectCount;
    ConnectUntilUp(rig.ctx, rig.tcp1, "127.0.0.5");
    EXPECT_EQ(rig.tcp1.connectCount, before);
}

TEST_F(TunnelTest, CommandsGoOutWithTheirFraming) {
    ASSERT_TRUE(Connect(rig.tcp1));
    SendCommand(rig.tcp1, kLanVersionQuery);
    EXPECT_EQ(script.received.back(), toBytes("{LAN_VER=?}\r\n"));
    EXPECT_THROW(SendCommand(rig.tcp1, kProgramRequest), KvError);
    SendLine(rig.tcp1, FlashImageCommand("0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_EQ(script.received.back(),
              toBytes("(FLASH_IMAGE=0123456789ABCDEF0123456789ABCDEF)\r\n"));
}

// A serial device that answers each write with the next scripted text.
class SerialTest : public ::testing::Test {
  protected:
    SerialTest() {
        rig.world.attachSerial("COM3", &peer);
        OpenPort(rig.com1, "COM3");
    }
    SerialReply ask(const std::string& reply, char closing) {
        script.replies.push_back(toBytes(reply));
        WriteText(rig.com1, "{I}\r\n");
        return ReadReply(rig.ctx, rig.com1, closing);
    }
    test::FakeRig rig;
    test::Script script;
    test::ScriptedPeer peer{script};
};

TEST_F(SerialTest, ReplyIsCutFromItsOpeningToItsClosingBracket) {
    SerialReply r = ask("xy(I:HQLX-FBR)", ')');
    EXPECT_FALSE(r.timeout);
    EXPECT_EQ(r.text, "(I:HQLX-FBR)");
    EXPECT_EQ(rig.ui.memo.back(), "<-(I:HQLX-FBR)");
    EXPECT_EQ(rig.logLines().back(), "<=(I:HQLX-FBR)");

    r = ask("ok}", '}');
    EXPECT_EQ(r.text, "ok}");  // no opening bracket: the whole text
    r = ask("..{P_PRGRQST_OK}", '}');
    EXPECT_EQ(r.text, "{P_PRGRQST_OK}");
    EXPECT_EQ(rig.clock.elapsed(), 0ms);
}

TEST_F(SerialTest, ReadsStopAtTheClosingBracketAndLeaveTheRest) {
    script.replies.push_back(toBytes("(FW:1.0.4)(next)"));
    WriteText(rig.com1, "{F}\r\n");
    EXPECT_EQ(ReadReply(rig.ctx, rig.com1, ')').text, "(FW:1.0.4)");
    EXPECT_EQ(ReadReply(rig.ctx, rig.com1, ')').text, "(next)");
}

TEST_F(SerialTest, TimeoutClearsTheTextAndIsNotLogged) {
    SerialReply r = ask("(I:NO-END", ')');
    EXPECT_TRUE(r.timeout);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(rig.clock.elapsed(), 4000ms);
    EXPECT_TRUE(rig.ui.memo.empty());
    // A stream that never closes its bracket ends as a time-out too, not as a hang.
    r = ask(std::string(10000, 'z'), ')');
    EXPECT_TRUE(r.timeout);
}

TEST_F(SerialTest, CommandsOverTheComPort) {
    SendCommand(rig.com1, kIdentQuery);
    SendCommand(rig.com1, kProgramRequest);
    EXPECT_EQ(rig.com1.sent[0], toBytes("{I}\r\n"));
    EXPECT_EQ(rig.com1.sent[1], toBytes("{P_PRGRQST}"));
    EXPECT_THROW(SendCommand(rig.com1, kSerialQuery), KvError);
    EXPECT_EQ(ReadByte(rig.com1, 100ms), std::nullopt);
    EXPECT_EQ(rig.clock.elapsed(), 100ms);
    ClosePort(rig.com1);
    ClosePort(rig.com1);
    EXPECT_FALSE(rig.com1.isOpen());
}

}  // namespace
}  // namespace kv
