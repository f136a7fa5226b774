#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Peers.h"

namespace kv::sim {

// Takes the frames of the PIC bootloader framing (STX STX, the payload with a DLE before
// every STX, DLE or ETX byte in it, ETX) out of a byte stream, as the cards' bootloader
// receives them. Bytes outside a frame are skipped. Sans-I/O: bytes in, payloads out.
//
// A start byte without its DLE never belongs to a payload: it is the start of a frame, so
// what had been collected is dropped and the payload begins after it (a run of start
// bytes is one start). The serial bootloader of the PIC application note AN851 ("A FLASH
// Bootloader for PIC16 and PIC18 Devices") receives so: an STX inside a packet sends its
// receive loop back to the start. A sender that gave up on a frame half-way is heard
// again from its next frame on.
class PicFrameReader {
  public:
    // What one byte did.
    enum class Event {
        None,     // nothing complete yet
        Frame,    // a frame ended: payload() holds it
        TooLong,  // a payload grew past kMaxPayload and was dropped
    };

    // The receive buffer of the bootloader: longer payloads are noise, the reader waits
    // for the next start bytes.
    static constexpr std::size_t kMaxPayload = 64;

    Event take(std::uint8_t byte);
    // The unstuffed payload (checksum included) of the frame that take() just ended.
    const Bytes& payload() const { return payload_; }
    // The payloads of the frames that `data` ends.
    std::vector<Bytes> feed(ByteView data);
    // Forgets a frame begun (a new connection, another line setting).
    void reset() { state_ = State::Idle; }

  private:
    enum class State { Idle, FirstStx, Payload, Escaped } state_ = State::Idle;
    Bytes payload_;
};

}  // namespace kv::sim
