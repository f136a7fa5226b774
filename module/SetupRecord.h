#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/ports/Bytes.h"

namespace kv {

// The module's set-up record as exchanged on TCP 30718.
inline constexpr std::uint16_t kSetupPort = 30718;
inline constexpr std::size_t kSetupRecordSize = 124;
inline constexpr std::array<std::uint8_t, 4> kSetupRecordRequest{0x00, 0x00, 0x00, 0xF8};
inline constexpr std::uint8_t kSetupRecordCode = 0xF9;  // byte 3 of the record sent to us
inline constexpr std::size_t kSetupAckSize = 4;

// One fixed setting of the module's serial channel.
struct SerialSetting {
    std::string_view name;
    std::uint8_t interfaceMode;  // byte 20: 4C = RS-232 8N1, 7C = RS-232 8E1
    std::uint8_t baudCode;       // byte 21: 09 = 57600, 01 = 19200, 02 = 9600
    bool setByte38;              // byte 38 OR 7F
    std::uint8_t byte39;
    std::string_view logLine;
};

inline constexpr SerialSetting kSetup57600Even{"setup_57600_even",          0x7C, 0x09, true, 0x00,
                                               "Setup 57600 BR Even parity"};
inline constexpr SerialSetting kSetup57600None{"setup_57600_none",        0x4C, 0x09, false, 0x02,
                                               "Setup 57600 BR no parity"};
inline constexpr SerialSetting kSetup19200None{"setup_19200_none",        0x4C, 0x01, true, 0x00,
                                               "Setup 19200 BR no parity"};
inline constexpr SerialSetting kSetup9600None{"setup_9600_none",        0x4C, 0x02, false, 0x02,
                                              "Setup 9600 BR no parity"};

// The name of the setting of normal operation `record` holds (kSetup57600None or
// kSetup9600None), or empty when it holds another one.
std::string_view NormalSettingOf(ByteView record);
// The setting of normal operation named so, or nullptr.
const SerialSetting* NormalSettingNamed(std::string_view name);

// The record to send back: the received one with the store code and the setting's
// bytes; every other byte as received. `record` must hold kSetupRecordSize bytes.
Bytes ApplySerialSetting(ByteView record, const SerialSetting& setting);

}  // namespace kv
