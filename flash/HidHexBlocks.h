#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// One write block of the USB bootloader: the address field of its first HEX line and
// the data of two consecutive 16-byte lines.
struct HidBlock {
    std::uint8_t addressLow = 0;
    std::uint8_t addressHigh = 0;
    std::array<std::uint8_t, 32> data{};
};

// Blocks needed to cover [start, end) in 32-byte steps.
int HidBlockCount(int startAddress, int endAddress);

// Cuts the lines of a HEX file into `blockCount` blocks, taken in file order from the
// line after the first one that starts with `startLine`. Every line used must be a
// 16-byte data record with a correct checksum. Throws KvError with a message for the
// operator when the start line is missing, the file ends early or a line is unfit.
std::vector<HidBlock> HidBlocksFromHex(const std::vector<std::string>& lines,
                                       std::string_view startLine, int blockCount);

// The 64 bytes that follow the line starting with ":101830": 16 data bytes from each of
// the next four lines. Missing or non-hexadecimal characters count as 00.
std::array<std::uint8_t, 64> HidDescriptorBytes(const std::vector<std::string>& lines);

// The product name held in those bytes as a USB string descriptor (length, type, then
// 16-bit characters; the low byte of each is taken): up to the first 00, at most 31
// characters. None when byte 0 is FF, i.e. the file carries no descriptor.
std::optional<std::string> HidDescriptorName(const std::array<std::uint8_t, 64>& bytes);

}  // namespace kv
