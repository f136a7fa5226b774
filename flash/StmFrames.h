#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/ports/Bytes.h"

namespace kv {

// Bytes of the STM32F10x system bootloader protocol.
inline constexpr std::uint8_t kStmSync = 0x7F;  // auto-baud byte, sent alone
inline constexpr std::uint8_t kStmAck = 0x79;   // every other first byte is a refusal
inline constexpr std::uint8_t kStmGetVersion = 0x01;
inline constexpr std::uint8_t kStmGetId = 0x02;
inline constexpr std::uint8_t kStmReadMemory = 0x11;
inline constexpr std::uint8_t kStmWriteMemory = 0x31;
inline constexpr std::uint8_t kStmErase = 0x43;
inline constexpr std::uint8_t kStmEraseAll = 0xFF;  // erase count meaning "everything"

// Largest block one write or read request carries.
inline constexpr std::size_t kStmMaxBlock = 256;
// Bootloaders older than this draw the deprecation warning.
inline constexpr std::uint8_t kStmCurrentVersion = 0x22;
// Full replies: ACK, version, two option bytes, ACK / ACK, count, product ID, ACK.
inline constexpr std::size_t kStmVersionReplyLength = 5;
inline constexpr std::size_t kStmIdReplyLength = 5;

// 7F alone; any other code followed by its complement.
Bytes StmCommandFrame(std::uint8_t code);
// A3 A2 A1 A0 and their XOR.
Bytes StmAddressFrame(std::uint32_t address);
// N - 1, the N data bytes (1 to 256) and the XOR of all of them.
Bytes StmDataFrame(ByteView data);
// N - 1 and its complement, asking for N bytes (1 to 256).
Bytes StmReadRequest(std::size_t count);

// Two upper-case hexadecimal digits per byte, joined by `separator`.
std::string StmHex(ByteView bytes, const std::string& separator = "");
// "2.2v" for 0x22: one digit per nibble.
std::string StmVersionText(std::uint8_t version);
// The reply to the identification query names a part of the F10x family (product IDs
// 0x410 to 0x41F): count at least 1, first ID byte 0x04, second ID byte 0x1x.
bool StmChipAccepted(ByteView reply);

}  // namespace kv
