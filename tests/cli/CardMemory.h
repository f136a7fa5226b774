#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "DemoFirmware.h"
#include "HexBytes.h"
#include "Scenario.h"

namespace kv::test {

// Program-memory bytes of a HEX file by full address (data records only).
inline std::map<std::uint32_t, std::uint8_t> hexBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return sim::HexTextBytes(text.str());
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
