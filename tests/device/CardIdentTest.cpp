// Card identification: the reply decoder, the tunnel and serial variants, and the
// receive buffer the serial variant reads from.
#include <gtest/gtest.h>

#include "FakeRig.h"
#include "ScriptedPeer.h"
#include "core/ports/ChannelError.h"
#include "device/CardIdent.h"
#include "device/CardReplyDecoder.h"
#include "device/ChannelEvents.h"
#include "device/TextCommands.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using State = CardReplyDecoder::State;

Bytes B(std::initializer_list<int> v) {
    Bytes out;
    for (int x : v) out.push_back(static_cast<std::uint8_t>(x));
    return out;
}

struct DecodeCase {
    const char* name;
    Bytes reply;
    State state;
    std::string text;
};

TEST(CardReplyDecoder, FrameBytesAndPaddingNeverReachTheText) {
    const Bytes overlong(300, 'A');
    Bytes padded = B({0x0F, 0x0F, 0x00, 'A'});
    padded.resize(300, 0x00);
    padded.push_back(0x04);
    Bytes longest(255, 'B');  // fills the buffer exactly with the end byte
    longest.push_back(0x04);
    const DecodeCase cases[] = {
        {"plain", B({0x0F, 0x0F, 0x00, 'A', 'B', 'C', 0x5A, 0x04}), State::Complete, "ABC"},
        {"zero in payload", B({0x0F, 0x0F, 0x00, 'A', 0x00, 'B', 0x00, 'C', 0x5A, 0x04}),
         State::Complete, "ABC"},
        // Zeros count while in the header: the header is still three bytes.
        {"zero in header", B({0x0F, 0x00, 0x00, 'A', 'B', 0x5A, 0x04}), State::Complete, "AB"},
        {"end byte first", B({0x04, 'A', 'B'}), State::Complete, ""},
        {"end inside header", B({0x0F, 0x0F, 0x04}), State::Complete, ""},
        {"too short for a checksum", B({0x0F, 0x0F, 0x00, 0x5A, 0x04}), State::Complete, ""},
        {"cut short", B({0x0F, 0x0F, 0x00, 'A', 'B'}), State::NeedMore, ""},
        {"longer than the buffer", overlong, State::Overflow, ""},
        {"padding counts toward the buffer", padded, State::Overflow, ""},
        {"buffer exactly full", longest, State::Complete, std::string(251, 'B')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CardReplyDecoder decoder;
        decoder.feed(c.reply);
        EXPECT_EQ(decoder.state(), c.state);
        if (c.state == State::Complete) {
            EXPECT_EQ(decoder.text(), c.text);
        }
    }
}

// The tunnel variants, against a card that answers with scripted bytes.
class NetworkIdentTest : public ::testing::Test {
  protected:
    NetworkIdentTest() {
        test::listenScripted(rig.world, "127.0.0.2", 10001, script);
        rig.addDevice("127.0.0.2", 10001);
        rig.state.CurrentIP = "127.0.0.2";
    }
    test::FakeRig rig;
    test::Script script;
};

TEST_F(NetworkIdentTest, ReplyTextIsReturnedAndLogged) {
    script.replies.push_back(B({0x0F, 0x0F, 0x00, 'R', 'V', '-', 'I', 'N', 0x12, 0x04}));
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network300), "RV-IN");
    ASSERT_EQ(script.received.size(), 1u);
    EXPECT_EQ(script.received[0], B({0x0F, 0x0F, 0x00, 0x02, 0xFE, 0x04}));
    EXPECT_EQ(rig.ui.memo.back(), "RV-IN");
    EXPECT_EQ(rig.logLines().back(), "RV-IN");
}

TEST_F(NetworkIdentTest, SilentCardCostsOnePerByteWait) {
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network300), "No card found");
    EXPECT_EQ(rig.clock.elapsed(), 300ms);
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network800), "No card found");
    EXPECT_EQ(rig.clock.elapsed(), 1100ms);
    EXPECT_EQ(rig.ui.memo.back(), "No card found");
}

TEST_F(NetworkIdentTest, CardFallingSilentMidReplyIsNoCard) {
    script.replies.push_back(B({0x0F, 0x0F, 0x00, 'R', 'V'}));
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network300), "No card found");
}

TEST_F(NetworkIdentTest, LongVariantReconnectsShortVariantKeepsTheConnection) {
    ReadCardIdent(rig.ctx, CardIdentVariant::Network300);
    ReadCardIdent(rig.ctx, CardIdentVariant::Network300);
    EXPECT_EQ(rig.tcp1.connectCount, 1);
    ReadCardIdent(rig.ctx, CardIdentVariant::Network800);
    EXPECT_EQ(rig.tcp1.connectCount, 2);
}

TEST_F(NetworkIdentTest, ClientLeftOnAnotherPortIsAimedAtTheTunnel) {
    test::Script other;
    test::listenScripted(rig.world, "127.0.0.2", 30718, other);
    rig.tcp1.setHost("127.0.0.2");
    rig.tcp1.setPort(30718);
    ASSERT_TRUE(rig.tcp1.connect(1000ms));
    ReadCardIdent(rig.ctx, CardIdentVariant::Network300);
    EXPECT_TRUE(other.received.empty());
    EXPECT_EQ(script.received.size(), 1u);
    EXPECT_EQ(rig.tcp1.port(), 10001);
}

TEST_F(NetworkIdentTest, OverlongReplyIsNoCardAndDoesNotLeakIntoTheNextQuery) {
    script.replies.push_back(Bytes(400, 'A'));
    script.replies.push_back(B({0x0F, 0x0F, 0x00, 'X', 'Y', 0x77, 0x04}));
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network300), "No card found");
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network300), "XY");
}

TEST_F(NetworkIdentTest, UnreachableDeviceIsReportedAndGivesAnEmptyText) {
    rig.state.CurrentIP = "127.0.0.9";
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network300), "");
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_EQ(rig.ui.dialogs[0].type, test::ScriptedUi::Dialog::Error);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Error in Query card:\rConnection Lost Error");
}

// A card behind the tunnel that never finishes its reply: after the header it sends one
// byte every `gap`, up to `limit` bytes, then falls silent.
class TricklingCard : public TcpClient {
  public:
    TricklingCard(test::VirtualClock& clock, std::uint8_t fill, std::chrono::milliseconds gap)
        : clock_(clock), fill_(fill), gap_(gap) {}
    void setHost(const std::string& host) override { host_ = host; }
    void setPort(int port) override { port_ = port; }
    std::string host() const override { return host_; }
    int port() const override { return port_; }
    bool connect(std::chrono::milliseconds) override { return connected_ = true; }
    void disconnect() override { connected_ = false; }
    bool connected() const override { return connected_; }
    void send(ByteView) override {}
    bool waitForData(std::chrono::milliseconds timeout) override {
        if (sent >= kLimit) {
            clock_.advance(timeout);
            return false;
        }
        if (sent >= 3) clock_.advance(gap_);
        return true;
    }
    Bytes peek(std::size_t maxBytes) override { return next(maxBytes, false); }
    Bytes read(std::size_t maxBytes) override { return next(maxBytes, true); }

    static constexpr std::size_t kLimit = 100000;
    std::size_t sent = 0;

  private:
    Bytes next(std::size_t maxBytes, bool take) {
        if (sent >= kLimit || maxBytes == 0) return {};
        const std::uint8_t byte = sent < 3 ? (sent == 2 ? 0x00 : 0x0F) : fill_;
        if (take) ++sent;
        return {byte};
    }
    test::VirtualClock& clock_;
    std::uint8_t fill_;
    std::chrono::milliseconds gap_;
    std::string host_;
    int port_ = 0;
    bool connected_ = false;
};

// Padding counts toward the reply buffer, and a reply never outlasts its overall limit,
// whatever the pauses between bytes.
TEST_F(NetworkIdentTest, EndlessReplyEndsInBoundedBytesAndTime) {
    struct Case {
        const char* name;
        std::uint8_t fill;
        std::chrono::milliseconds gap;
        std::size_t maxRead;
    };
    const Case cases[] = {
        {"zero padding, fast", 0x00, 1ms, CardReplyDecoder::kBufferSize},
        {"zero padding under the per-byte wait", 0x00, 250ms, 64},
        {"text under the per-byte wait", 'A', 250ms, 64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TricklingCard card(rig.clock, c.fill, c.gap);
        rig.ports.TcpClient1 = &card;
        const auto start = rig.clock.elapsed();
        EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Network300), "No card found");
        // What an overlong reply leaves behind is drained, so only the bytes before the
        // verdict are bounded.
        EXPECT_LE(card.sent, c.maxRead + 4096);
        EXPECT_LE(rig.clock.elapsed() - start, 6s);
    }
}

// A COM port whose arrivals come in the chunks the test chooses, one per poll.
class ChunkedSerialPort : public SerialPort {
  public:
    void setName(const std::string&) override {}
    std::string name() const override { return "COM9"; }
    void open() override { open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void setBaud(int) override {}
    int baud() const override { return 19200; }
    void setParity(Parity) override {}
    Parity parity() const override { return Parity::None; }
    void write(ByteView bytes) override { written.emplace_back(bytes.begin(), bytes.end()); }
    Bytes read(std::size_t, std::chrono::milliseconds) override { return {}; }
    Bytes poll() override {
        if (chunks.empty()) return {};
        Bytes out = chunks.front();
        chunks.erase(chunks.begin());
        return out;
    }
    std::vector<Bytes> chunks;
    std::vector<Bytes> written;
    bool open_ = true;
};

class SerialIdentTest : public ::testing::Test {
  protected:
    SerialIdentTest() {
        rig.ports.ComPort1 = &port;
        RegisterChannelEvents(rig.ctx);
    }
    test::FakeRig rig;
    ChunkedSerialPort port;
};

TEST_F(SerialIdentTest, ReplySplitAtEveryPositionDecodesTheSame) {
    const Bytes reply =
        B({0x0F, 0x0F, 0x00, 'L', 'N', 'K', ' ', 'H', 'W', ':', '1', 0x00, 0x33, 0x04});
    for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
        SCOPED_TRACE(cut);
        port.chunks = {Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(cut)),
                       Bytes(reply.begin() + static_cast<std::ptrdiff_t>(cut), reply.end())};
        rig.state.RxCount = 5;  // left over from an earlier exchange
        EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Serial), "LNK HW:1");
        EXPECT_EQ(port.written.back(), B({0x0F, 0x0F, 0x00, 0x02, 0xFE, 0x04}));
    }
}

TEST_F(SerialIdentTest, RepliesAfterTheThirdSliceAreNotWaitedFor) {
    port.chunks = {{}, {}, {}, B({0x0F, 0x0F, 0x00, 'A', 'B', 0x77, 0x04})};
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Serial), "No card found");
    EXPECT_EQ(rig.clock.elapsed(), 300ms);
}

TEST_F(SerialIdentTest, WriteFailureIsReported) {
    struct Failing : ChunkedSerialPort {
        void write(ByteView) override { throw ChannelError("Com port COM9 is not open"); }
    } failing;
    rig.ports.ComPort1 = &failing;
    EXPECT_EQ(ReadCardIdent(rig.ctx, CardIdentVariant::Serial), "");
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Error in Query card:\rCom port COM9 is not open");
}

TEST_F(SerialIdentTest, ReceiveBufferAppendsUntilResetAndDropsWhatDoesNotFit) {
    port.chunks = {Bytes(1000, 0x11), Bytes(100, 0x22)};
    rig.ctx.ProcessMessages();
    rig.ctx.ProcessMessages();
    EXPECT_EQ(rig.state.RxCount, 1028);
    EXPECT_EQ(rig.state.RxBuffer[999], 0x11);
    EXPECT_EQ(rig.state.RxBuffer[1027], 0x22);
    EXPECT_EQ(rig.logLines().back(), "RxBuffer full: 72 bytes dropped");

    // A consumer's reset makes the next arrival start over at the front.
    rig.state.RxCount = 0;
    port.chunks = {B({0x79})};
    rig.ctx.ProcessMessages();
    EXPECT_EQ(rig.state.RxCount, 1);
    EXPECT_EQ(rig.state.RxBuffer[0], 0x79);

    // A closed port delivers nothing.
    port.open_ = false;
    port.chunks = {B({0x55})};
    rig.ctx.ProcessMessages();
    EXPECT_EQ(rig.state.RxCount, 1);
}

TEST(ChannelEvents, StreamSocketArrivalsReachTheReceiveBuffer) {
    test::FakeRig rig;
    test::Script script;
    test::listenScripted(rig.world, "127.0.0.2", 10001, script);
    RegisterChannelEvents(rig.ctx);
    rig.socket1.setHost("127.0.0.2");
    rig.socket1.setPort(10001);
    rig.socket1.open();
    ASSERT_TRUE(rig.socket1.connected());
    script.replies.push_back(B({0x79}));
    rig.state.RxCount = 0;
    rig.socket1.send(B({0x7F}));
    rig.ctx.ProcessMessages();
    EXPECT_EQ(rig.state.RxCount, 1);
    EXPECT_EQ(rig.state.RxBuffer[0], 0x79);
}

}  // namespace
}  // namespace kv
