#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kv {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline Bytes toBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}
inline std::string toText(ByteView bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace kv
