#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "Peers.h"

namespace kv::sim {

// The cards' bootloader framing: STX STX, the payload with DLE before any 0F, 05 or
// 04 byte, ETX. The payload's last byte is the checksum: the two's complement of the
// sum of the bytes before it. PicFrameReader takes such frames apart.
namespace card_frame {
inline constexpr std::uint8_t kStx = 0x0F;
inline constexpr std::uint8_t kEtx = 0x04;
inline constexpr std::uint8_t kDle = 0x05;
inline constexpr std::uint8_t kReadVersion = 0x00;

// A frame around `body` (checksum appended).
Bytes frame(ByteView body);
// A card's answer to the identification request: command 00 and the text.
Bytes identReply(std::string_view text);
// True for the identification request's payload (00 02 and a good checksum).
bool isIdentRequest(ByteView payload);
bool checksumOk(ByteView payload);
}  // namespace card_frame

}  // namespace kv::sim
