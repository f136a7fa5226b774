#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ports/Bytes.h"

namespace kv {

// The module's discovery messages on UDP 30718. The tool sends from its own port 30718
// and listens there, so every module answers to the same place.
inline constexpr std::uint16_t kDiscoveryPort = 30718;

// Asks every module in the broadcast range for its firmware version and hardware address.
Bytes ModuleQueryMessage();
// Asks one module for its set-up record, which carries the tunnel port.
Bytes SetupRecordQueryMessage();

// Byte 3 of an answer tells what it is.
inline constexpr std::uint8_t kModuleAnswerCode = 0xF7;
inline constexpr std::uint8_t kSetupRecordAnswerCode = 0xF9;

struct ModuleAnswer {
    std::string MAC;            // "00-20-4A-9B-0C-11"
    std::string ModuleVersion;  // "6.B.0"
};

// F7 answer: bytes 6/7 are the firmware version (low, high), bytes 24..29 the hardware
// address. nullopt for anything that is not a complete F7 answer.
std::optional<ModuleAnswer> DecodeModuleAnswer(ByteView datagram);
// F9 answer: the tunnel port, least significant byte first in bytes 24/25. nullopt for
// anything that is not a complete F9 answer.
std::optional<int> DecodeSetupRecordAnswer(ByteView datagram);

// The two broadcast addresses one interface's query goes to: a.b.c.255, then a.b.255.255.
// Empty when the text is not four dot-separated parts.
std::vector<std::string> InterfaceBroadcasts(const std::string& localAddress);

}  // namespace kv
