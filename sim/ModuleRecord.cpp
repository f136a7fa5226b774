#include "ModuleRecord.h"

#include <algorithm>

namespace kv::sim {

namespace {
constexpr std::size_t kModeByte = 20;
constexpr std::size_t kBaudByte = 21;
constexpr std::size_t kPortLow = 24;
constexpr std::size_t kPortHigh = 25;
constexpr std::uint8_t kMode8N1 = 0x4C;
constexpr std::uint8_t kMode8E1 = 0x7C;

struct BaudCode {
    int baud;
    std::uint8_t code;
};
constexpr BaudCode kBaudCodes[] = {{57600, 0x09}, {19200, 0x01}, {9600, 0x02}};
}  // namespace

ModuleRecord::ModuleRecord(std::uint16_t tunnelPort, LineSettings line) : bytes_(kSize) {
    // Bytes the tool must hand back untouched get values that are easy to tell apart.
    for (std::size_t i = 0; i < kSize; ++i) bytes_[i] = static_cast<std::uint8_t>(i * 37 + 11);
    bytes_[0] = 0x00;
    bytes_[1] = 0x00;
    bytes_[2] = 0x00;
    bytes_[3] = kAnswerCode;
    bytes_[kModeByte] = modeCode(line.parity);
    bytes_[kBaudByte] = baudCode(line.baud).value_or(0x02);
    bytes_[kPortLow] = static_cast<std::uint8_t>(tunnelPort & 0xFF);
    bytes_[kPortHigh] = static_cast<std::uint8_t>(tunnelPort >> 8);
    bytes_[38] = 0x80;
    bytes_[39] = 0x02;
}

Bytes ModuleRecord::answer() const {
    Bytes out = bytes_;
    out[3] = kAnswerCode;
    return out;
}

void ModuleRecord::store(ByteView record) {
    std::copy_n(record.begin(), std::min(record.size(), kSize), bytes_.begin());
}

std::optional<LineSettings> ModuleRecord::serialLine() const {
    LineSettings line;
    if (bytes_[kModeByte] == kMode8N1) {
        line.parity = Parity::None;
    } else if (bytes_[kModeByte] == kMode8E1) {
        line.parity = Parity::Even;
    } else {
        return std::nullopt;
    }
    for (const auto& entry : kBaudCodes) {
        if (entry.code == bytes_[kBaudByte]) {
            line.baud = entry.baud;
            return line;
        }
    }
    return std::nullopt;
}

std::uint16_t ModuleRecord::tunnelPort() const {
    return static_cast<std::uint16_t>(bytes_[kPortLow] | (bytes_[kPortHigh] << 8));
}

std::uint8_t ModuleRecord::modeCode(Parity parity) {
    return parity == Parity::Even ? kMode8E1 : kMode8N1;
}

std::optional<std::uint8_t> ModuleRecord::baudCode(int baud) {
    for (const auto& entry : kBaudCodes)
        if (entry.baud == baud) return entry.code;
    return std::nullopt;
}

}  // namespace kv::sim
