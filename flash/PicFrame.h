#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/ports/Bytes.h"

namespace kv {

// Framing of the PIC serial bootloader: STX STX, the payload with every control character
// preceded by DLE, ETX. Pure functions, no I/O.
inline constexpr std::uint8_t kPicStx = 0x0F;
inline constexpr std::uint8_t kPicEtx = 0x04;
inline constexpr std::uint8_t kPicDle = 0x05;

inline constexpr std::size_t kPicMaxPayload = 32;
inline constexpr std::size_t kPicMaxFrame = 64;
inline constexpr std::size_t kPicBlockSize = 16;  // data bytes of one program-memory write

// Bootloader commands (the first payload byte).
inline constexpr std::uint8_t kPicReadVersion = 0;
inline constexpr std::uint8_t kPicReadProgram = 1;
inline constexpr std::uint8_t kPicWriteProgram = 2;
inline constexpr std::uint8_t kPicEraseProgram = 3;
inline constexpr std::uint8_t kPicWriteEeprom = 5;

// True for the bytes that travel behind a DLE.
constexpr bool PicNeedsStuffing(std::uint8_t b) {
    return b == kPicStx || b == kPicDle || b == kPicEtx;
}

// Two's complement of the 8-bit sum of the bytes.
std::uint8_t PicChecksum(ByteView bytes);

// STX STX, the stuffed payload, ETX.
Bytes PicEncodeFrame(ByteView payload);

// Five-byte header: command, length code, address bits 0-7, 8-15 and 16-23.
std::array<std::uint8_t, 5> PicHeader(std::uint8_t command, std::uint8_t length,
                                      std::uint32_t address);

// Length on the wire of the reply a frame waits for, by the frame's third byte (the command,
// or the DLE in front of a stuffed command, which equals command 5): 0 when none is awaited.
// Command 1's reply length is variable and given as 0 here.
std::size_t PicFixedReplyLength(std::uint8_t thirdFrameByte);
// The frame's third byte names a command that is answered (1, 2, 3 or 5).
bool PicAwaitsReply(std::uint8_t thirdFrameByte);

// The read-back flag of a program-memory write: the checksum of the read reply that returns
// `block` from `address` needs a DLE on the wire.
bool PicReadBackFlag(std::uint32_t address, ByteView block);

// Length of the verify read's reply after a write frame of `writeFrameLength` bytes: it
// differs from the write frame only in command, length code and checksum, and only the
// checksum's stuffing can change the length.
int PicReplyLengthAfterWrite(std::size_t writeFrameLength, bool readBackFlag,
                             bool ownChecksumStuffed);

// Decodes a read reply byte by byte: drops each DLE that escapes the next byte, counts the
// decoded bytes and keeps decoded bytes 8 to 23 (1-based; STX, STX, command, length and three
// address bytes come first) as the data read. Checksum and ETX are not tested.
class PicReplyDecoder {
  public:
    // Data bytes are stored into `data`; positions the reply does not reach keep their value.
    explicit PicReplyDecoder(std::array<std::uint8_t, kPicBlockSize>& data) : data_(data) {}
    void feed(std::uint8_t byte);
    void feed(ByteView bytes) {
        for (std::uint8_t b : bytes) feed(b);
    }
    int count() const { return count_; }

  private:
    static constexpr int kFirstDataByte = 8;
    bool escaped_ = false;
    int count_ = 0;
    std::array<std::uint8_t, kPicBlockSize>& data_;
};

}  // namespace kv
