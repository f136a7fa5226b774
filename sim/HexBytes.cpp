#include "HexBytes.h"

#include <sstream>
#include <stdexcept>

namespace kv::sim {

std::map<std::uint32_t, std::uint8_t> HexTextBytes(const std::string& text) {
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::istringstream in(text);
    std::string line;
    std::uint32_t base = 0;
    auto byteAt = [&line](std::size_t i) {
        return static_cast<std::uint8_t>(std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16));
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < 11 || line[0] != ':') continue;
        const std::size_t count = byteAt(0);
        const auto address = static_cast<std::uint32_t>((byteAt(1) << 8) | byteAt(2));
        const std::uint8_t type = byteAt(3);
        if (type == 4) base = static_cast<std::uint32_t>((byteAt(4) << 8) | byteAt(5)) << 16;
        if (type != 0 || line.size() < 11 + 2 * count) continue;
        for (std::size_t i = 0; i < count; ++i)
            bytes[base + address + static_cast<std::uint32_t>(i)] = byteAt(4 + i);
    }
    return bytes;
}

std::string HexRecordLine(std::uint8_t type, std::uint16_t address, ByteView data) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    static constexpr std::size_t kMaxRecordData = 0xFF;
    if (data.size() > kMaxRecordData) throw std::length_error("a HEX record holds 255 bytes");
    Bytes fields{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address), type};
    fields.insert(fields.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (std::uint8_t b : fields) sum = static_cast<std::uint8_t>(sum + b);
    fields.push_back(static_cast<std::uint8_t>(-sum));
    std::string line = ":";
    for (std::uint8_t b : fields) {
        line += kDigits[b >> 4];
        line += kDigits[b & 0x0F];
    }
    return line;
}

}  // namespace kv::sim
