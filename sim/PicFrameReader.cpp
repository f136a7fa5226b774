#include "PicFrameReader.h"

#include "CardFrame.h"

namespace kv::sim {

PicFrameReader::Event PicFrameReader::take(std::uint8_t byte) {
    using namespace card_frame;
    switch (state_) {
        case State::Idle:
            if (byte == kStx) state_ = State::FirstStx;
            return Event::None;
        case State::FirstStx:
            state_ = byte == kStx ? State::Payload : State::Idle;
            payload_.clear();
            return Event::None;
        case State::Payload:
            if (byte == kDle) {
                state_ = State::Escaped;
                return Event::None;
            }
            if (byte == kStx) {
                payload_.clear();
                return Event::None;
            }
            if (byte == kEtx) {
                state_ = State::Idle;
                return Event::Frame;
            }
            break;
        case State::Escaped:
            state_ = State::Payload;
            break;
    }
    payload_.push_back(byte);
    if (payload_.size() <= kMaxPayload) return Event::None;
    payload_.clear();
    state_ = State::Idle;
    return Event::TooLong;
}

std::vector<Bytes> PicFrameReader::feed(ByteView data) {
    std::vector<Bytes> frames;
    for (std::uint8_t b : data)
        if (take(b) == Event::Frame) frames.push_back(payload_);
    return frames;
}

}  // namespace kv::sim
