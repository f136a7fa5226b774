#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/ports/Bytes.h"

namespace kv {

// Decodes a card's answer to the identification request, one byte at a time. The
// first three bytes (STX STX and the command byte) carry no text; zero bytes after them
// are padding and do not reach the text, but every byte received counts toward the
// reply buffer, so a stream of padding ends in Overflow; the byte before the final ETX
// is the frame checksum. The text is not unstuffed: cards never stuff printable text.
class CardReplyDecoder {
  public:
    static constexpr std::size_t kBufferSize = 256;
    static constexpr std::uint8_t kEndByte = 0x04;

    enum class State { NeedMore, Complete, Overflow };

    State feed(std::uint8_t byte);
    // Feeds bytes until the reply is complete or overflows; returns the bytes consumed.
    std::size_t feed(ByteView bytes);
    State state() const { return state_; }
    // The reply text without the frame bytes and the checksum (valid once Complete).
    std::string text() const;

  private:
    State state_ = State::NeedMore;
    // Every byte received, padding included (the buffer limit).
    std::size_t received_ = 0;
    // Header, text, checksum and end bytes (where the text ends).
    std::size_t stored_ = 0;
    std::string text_;
};

}  // namespace kv
