// The PIC bootloader's read replies as the client decodes them: the decoder on its own,
// and a read command whose reply (from the tunnel and from the COM port) is arbitrary.
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>

#include "FuzzCheck.h"
#include "FuzzRig.h"
#include "Peers.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "flash/PicFrame.h"
#include "flash/PicLink.h"
#include "flash/PicState.h"

namespace {

using kv::Bytes;
using kv::ByteView;
using Block = std::array<std::uint8_t, kv::kPicBlockSize>;

constexpr int kFirstDataByte = 8;  // 1-based position of the first data byte
constexpr const char* kAddress = "127.0.0.2";
constexpr int kTunnelPort = 10001;

// A card that answers the first chunk it receives with `reply` and then stays silent.
class ReplyPeer : public kv::sim::StreamPeer {
  public:
    explicit ReplyPeer(const Bytes& reply) : reply_(reply) {}
    Bytes receive(ByteView) override { return std::exchange(reply_, Bytes{}); }

  private:
    Bytes reply_;
};

// Positions the decoded reply reached hold bytes of it; the others keep their value.
void checkDecoded(const Block& data, std::uint8_t fill, int count) {
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (static_cast<int>(i) + kFirstDataByte > count) FUZZ_CHECK(data[i] == fill);
    }
}

void decoderAlone(ByteView bytes) {
    Block zeros{};
    Block ones;
    ones.fill(0xFF);
    kv::PicReplyDecoder a(zeros);
    kv::PicReplyDecoder b(ones);
    a.feed(bytes);
    for (std::uint8_t byte : bytes) b.feed(byte);
    const int count = a.count();
    FUZZ_CHECK(b.count() == count);
    // Every DLE that is dropped escapes a byte that is counted (a last DLE may wait).
    FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= bytes.size());
    FUZZ_CHECK(2 * static_cast<std::size_t>(count) + 1 >= bytes.size());
    checkDecoded(zeros, 0x00, count);
    checkDecoded(ones, 0xFF, count);
    for (std::size_t i = 0; i < zeros.size(); ++i) {
        if (static_cast<int>(i) + kFirstDataByte <= count) FUZZ_CHECK(zeros[i] == ones[i]);
    }

    // A frame the card builds from any payload decodes to that payload.
    Block decoded{};
    kv::PicReplyDecoder framed(decoded);
    framed.feed(kv::PicEncodeFrame(bytes));
    FUZZ_CHECK(framed.count() == static_cast<int>(bytes.size()) + 3);
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const std::size_t payloadIndex = i + kFirstDataByte - 3;
        // Past the payload comes the end byte, then nothing.
        const std::uint8_t want = payloadIndex < bytes.size()    ? bytes[payloadIndex]
                                  : payloadIndex == bytes.size() ? kv::kPicEtx
                                                                 : 0;
        FUZZ_CHECK(decoded[i] == want);
    }
}

kv::test::FakeRig& rig() {
    static kv::test::FakeRig& r = []() -> kv::test::FakeRig& {
        auto& made = kv::fuzz::sharedRig();
        made.addDevice(kAddress, kTunnelPort);
        made.state.CurrentIP = kAddress;
        made.state.ConnectionKind = kv::ConnectionKind::Network;
        return made;
    }();
    return r;
}

Bytes readFrame() {
    const auto header = kv::PicHeader(kv::kPicReadProgram, kv::kPicBlockSize, 0x001230);
    Bytes payload(header.begin(), header.end());
    payload.push_back(kv::PicChecksum(payload));
    return kv::PicEncodeFrame(payload);
}

// The tunnel read keeps at most its buffer, and no more than the length it expects.
void tunnelRead(const Bytes& reply, int expected) {
    auto& r = rig();
    r.tcp1.disconnect();
    r.world.listenTcp(kAddress, kTunnelPort,
                      [reply] { return std::make_unique<ReplyPeer>(reply); });
    r.state.RowOk = true;
    r.state.RetransmissionCount = 0;
    kv::PicState pic;
    pic.PicExpectedReplyLength = expected;
    pic.PicReplyData.fill(0xA5);
    bool lost = false;
    try {
        kv::PicTunnelExchange(r.ctx, pic, readFrame(), kTunnelPort, false, false);
    } catch (const kv::KvError&) {  // also the channel's errors
        lost = true;
    }
    // The connection and its listener go with the input.
    r.tcp1.disconnect();
    r.world.stopListening(kAddress, kTunnelPort);
    // Silence is the only way to lose the link here.
    FUZZ_CHECK(lost == reply.empty());
    if (lost) return;
    FUZZ_CHECK(pic.PicReplyCount >= 0);
    FUZZ_CHECK(static_cast<std::size_t>(pic.PicReplyCount) <= kv::kPicTunnelBufferSize);
    FUZZ_CHECK(static_cast<std::size_t>(pic.PicReplyCount) <= reply.size());
    if (expected > 0) FUZZ_CHECK(pic.PicReplyCount <= expected);
    checkDecoded(pic.PicReplyData, 0xA5, pic.PicReplyCount);
}

// The serial read ends at its buffer whatever the card keeps sending.
void serialRead(const Bytes& reply) {
    auto& r = rig();
    ReplyPeer peer(reply);
    r.world.attachSerial("COM3", &peer);
    r.com1.setName("COM3");
    r.com1.open();
    r.com1.poll();
    kv::PicState pic;
    pic.PicReplyData.fill(0xA5);
    kv::WriteBytes(r.com1, readFrame());
    const int count = kv::PicReadSerialReply(r.ctx, pic);
    const std::size_t left = r.com1.poll().size();
    r.com1.close();
    r.world.detachSerial("COM3");
    FUZZ_CHECK(count == pic.PicReplyCount);
    FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= kv::kPicTunnelBufferSize);
    // Exactly the buffer's worth is taken off the line, the rest stays there.
    const std::size_t taken = std::min(reply.size(), kv::kPicTunnelBufferSize);
    FUZZ_CHECK(left == reply.size() - taken);
    FUZZ_CHECK(2 * static_cast<std::size_t>(count) + 1 >= taken);
    checkDecoded(pic.PicReplyData, 0xA5, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView bytes(data, size);
    rig();
    const kv::fuzz::FreshRun run;
    decoderAlone(bytes);
    if (size == 0) {
        tunnelRead({}, 0);
        return 0;
    }
    // The first byte is the reply length the link expects (0: unknown), the rest the reply.
    const Bytes reply(data + 1, data + size);
    tunnelRead(reply, data[0] % 64 == 0 ? 0 : data[0]);
    serialRead(reply);
    return 0;
}
