#include "flash/StmFrames.h"

#include <stdexcept>

namespace kv {

namespace {

std::uint8_t xorOf(ByteView bytes) {
    std::uint8_t x = 0;
    for (std::uint8_t b : bytes) x ^= b;
    return x;
}

void checkCount(std::size_t count) {
    if (count < 1 || count > kStmMaxBlock) {
        throw std::invalid_argument("STM32 block of " + std::to_string(count) + " bytes");
    }
}

}  // namespace

Bytes StmCommandFrame(std::uint8_t code) {
    if (code == kStmSync) return {kStmSync};
    return {code, static_cast<std::uint8_t>(code ^ 0xFF)};
}

Bytes StmAddressFrame(std::uint32_t address) {
    Bytes frame{static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
                static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    frame.push_back(xorOf(frame));
    return frame;
}

Bytes StmDataFrame(ByteView data) {
    checkCount(data.size());
    Bytes frame;
    frame.reserve(data.size() + 2);
    frame.push_back(static_cast<std::uint8_t>(data.size() - 1));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(xorOf(frame));
    return frame;
}

Bytes StmReadRequest(std::size_t count) {
    checkCount(count);
    auto n = static_cast<std::uint8_t>(count - 1);
    return {n, static_cast<std::uint8_t>(n ^ 0xFF)};
}

std::string StmHex(ByteView bytes, const std::string& separator) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * (2 + separator.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) text += separator;
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::string StmVersionText(std::uint8_t version) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string{kDigits[version >> 4], '.', kDigits[version & 0x0F], 'v'};
}

bool StmChipAccepted(ByteView reply) {
    return reply.size() >= 4 && reply[1] >= 1 && reply[2] == 0x04 && (reply[3] >> 4) == 1;
}

}  // namespace kv
