#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kv::test {

// One record line with a correct checksum, written independently of the reader.
inline std::string hexRecord(int type, std::uint16_t address,
                             const std::vector<std::uint8_t>& data) {
    std::vector<int> bytes{static_cast<int>(data.size()), address >> 8, address & 0xFF, type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    int sum = 0;
    std::string line = ":";
    char pair[3];
    for (int b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b & 0xFF);
        line += pair;
        sum += b;
    }
    std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + pair;
}

inline std::string hexLinear(int upper) {
    return hexRecord(4, 0,
                     {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
}

inline std::vector<std::uint8_t> textBytes(const std::string& text, std::size_t size) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.resize(size, 0);
    return bytes;
}

}  // namespace kv::test
