#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "DemoFirmware.h"
#include "Scenario.h"

namespace kv::test {

// Program-memory bytes of a HEX file by full address (data records only).
inline std::map<std::uint32_t, std::uint8_t> hexBytes(const std::string& path) {
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::ifstream in(path);
    std::string line;
    std::uint32_t base = 0;
    auto byteAt = [&line](std::size_t i) {
        return static_cast<std::uint8_t>(std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16));
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < 11 || line[0] != ':') continue;
        const std::size_t count = byteAt(0);
        const std::uint32_t address = (byteAt(1) << 8) | byteAt(2);
        const std::uint8_t type = byteAt(3);
        if (type == 4) base = static_cast<std::uint32_t>((byteAt(4) << 8) | byteAt(5)) << 16;
        if (type != 0) continue;
        for (std::size_t i = 0; i < count; ++i) bytes[base + address + i] = byteAt(4 + i);
    }
    return bytes;
}

// First address where a card's memory differs from what its file leaves there; -1 if none.
inline long firstDifference(const std::vector<std::uint8_t>& memory, const std::string& path) {
    const auto file = hexBytes(path);
    for (std::size_t a = 0; a < memory.size(); ++a) {
        std::uint8_t expected = a < sim::kDemoProgramStart ? sim::kOldFirmwareFill : 0xFF;
        if (auto it = file.find(static_cast<std::uint32_t>(a));
            it != file.end() && a >= sim::kDemoProgramStart) {
            expected = it->second;
        }
        if (memory[a] != expected) return static_cast<long>(a);
    }
    return -1;
}

}  // namespace kv::test
