#include "discovery/DiscoveryMessages.h"

#include <cstdio>

#include "firmware/Util.h"

namespace kv {

namespace {

constexpr std::size_t kCodeOffset = 3;
constexpr std::size_t kVersionLowOffset = 6;
constexpr std::size_t kVersionHighOffset = 7;
constexpr std::size_t kMacOffset = 24;
constexpr std::size_t kMacLength = 6;
constexpr std::size_t kModuleAnswerMinSize = kMacOffset + kMacLength;
constexpr std::size_t kTunnelPortOffset = 24;
constexpr std::size_t kSetupRecordAnswerMinSize = kTunnelPortOffset + 2;

std::string hexByte(std::uint8_t value, bool leadingZero) {
    char text[3];
    std::snprintf(text, sizeof text, leadingZero ? "%02X" : "%X", value);
    return text;
}

}  // namespace

Bytes ModuleQueryMessage() {
    return {0x00, 0x00, 0x00, 0xF6};
}

Bytes SetupRecordQueryMessage() {
    return {0x00, 0x01, 0x00, 0xF8};
}

std::optional<ModuleAnswer> DecodeModuleAnswer(ByteView datagram) {
    if (datagram.size() < kModuleAnswerMinSize || datagram[kCodeOffset] != kModuleAnswerCode) {
        return std::nullopt;
    }
    ModuleAnswer answer;
    for (std::size_t i = 0; i < kMacLength; ++i) {
        if (i > 0) answer.MAC += '-';
        answer.MAC += hexByte(datagram[kMacOffset + i], true);
    }
    answer.ModuleVersion = hexByte(datagram[kVersionHighOffset], false) + "." +
                           hexByte(datagram[kVersionLowOffset], false) + ".0";
    return answer;
}

std::optional<int> DecodeSetupRecordAnswer(ByteView datagram) {
    if (datagram.size() < kSetupRecordAnswerMinSize ||
        datagram[kCodeOffset] != kSetupRecordAnswerCode) {
        return std::nullopt;
    }
    return datagram[kTunnelPortOffset] + 256 * datagram[kTunnelPortOffset + 1];
}

std::vector<std::string> InterfaceBroadcasts(const std::string& localAddress) {
    std::vector<std::string> parts = SplitDelimited('.', localAddress);
    if (parts.size() != 4) return {};
    return {parts[0] + "." + parts[1] + "." + parts[2] + ".255",
            parts[0] + "." + parts[1] + ".255.255"};
}

}  // namespace kv
