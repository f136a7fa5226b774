#include "device/CardReplyDecoder.h"

namespace kv {

namespace {
constexpr std::size_t kHeaderBytes = 3;
// The header and the checksum + ETX pair.
constexpr std::size_t kFrameBytes = 5;
}  // namespace

CardReplyDecoder::State CardReplyDecoder::feed(std::uint8_t byte) {
    if (state_ != State::NeedMore) return state_;
    ++received_;
    const bool padding = stored_ >= kHeaderBytes && byte == 0x00;
    if (!padding) {
        if (stored_ >= kHeaderBytes && byte != kEndByte) text_ += static_cast<char>(byte);
        ++stored_;
    }
    if (byte == kEndByte) {
        state_ = State::Complete;
    } else if (received_ >= kBufferSize) {
        state_ = State::Overflow;
    }
    return state_;
}

std::size_t CardReplyDecoder::feed(ByteView bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && state_ == State::NeedMore) feed(bytes[used++]);
    return used;
}

std::string CardReplyDecoder::text() const {
    if (stored_ <= kFrameBytes) return {};
    return text_.substr(0, stored_ - kFrameBytes);
}

}  // namespace kv
