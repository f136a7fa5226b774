#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HexBytes.h"

namespace kv::test {

// Record lines come from sim::HexRecordLine, written independently of the tool's reader.

// The extended linear address record that sets the upper 16 address bits.
inline std::string hexLinear(int upper) {
    return sim::HexRecordLine(
        4, 0, Bytes{static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
}

// `text` in a field of `size` bytes, padded with zero bytes (cut when longer).
inline std::vector<std::uint8_t> textBytes(const std::string& text, std::size_t size) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.resize(size, 0);
    return bytes;
}

}  // namespace kv::test
