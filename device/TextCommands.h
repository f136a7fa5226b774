#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ports/Bytes.h"
#include "core/ports/SerialPort.h"
#include "core/ports/TcpClient.h"

namespace kv {

// How a command goes out on the COM port: some are tunnel-only, the upgrade request
// goes without a line end so the device's command parser acts on the closing brace.
enum class ComFraming { NotSent, WithCrLf, Bare };

struct TextCommand {
    std::string_view text;
    bool overTcp;  // SendLine on the tunnel client (CR LF appended)
    ComFraming overCom;
};

inline constexpr TextCommand kProtocolQuery{"{P_?}", true, ComFraming::NotSent};
inline constexpr TextCommand kSwitchToProtocol1{"{P_1}", true, ComFraming::NotSent};
inline constexpr TextCommand kIdentQuery{"{I}", true, ComFraming::WithCrLf};
inline constexpr TextCommand kSerialQuery{"{S}", true, ComFraming::NotSent};
inline constexpr TextCommand kFirmwareQuery{"{F}", true, ComFraming::WithCrLf};
inline constexpr TextCommand kLanVersionQuery{"{LAN_VER=?}", true, ComFraming::NotSent};
inline constexpr TextCommand kProgramRequest{"{P_PRGRQST}", false, ComFraming::Bare};
// Travels only inside a USB report.
inline constexpr TextCommand kProgramReset{"{P_PRGRESET}", false, ComFraming::NotSent};

inline constexpr std::array<const TextCommand*, 8> kTextCommands{
    &kProtocolQuery, &kSwitchToProtocol1, &kIdentQuery,     &kSerialQuery,
    &kFirmwareQuery, &kLanVersionQuery,   &kProgramRequest, &kProgramReset};

// Flash image check after a module image upload: 32 upper-case hex digits of the digest.
std::string FlashImageCommand(const std::string& digestHex);

// Replies that stand in for the ones that did not come in time.
inline constexpr std::string_view kDefaultProtocolReply = "(Current protocol#1)";
inline constexpr std::string_view kUnknownDeviceReply = "(Unknown device)";
inline constexpr std::string_view kNoSerialReply = "N/A";
inline constexpr std::string_view kNoCardFound = "No card found";

// Read-version request in the cards' bootloader framing: STX STX, command 00, 02,
// checksum FE, ETX.
inline constexpr std::array<std::uint8_t, 6> kCardIdentRequest{0x0F, 0x0F, 0x00, 0x02, 0xFE, 0x04};

// Sends the command on the tunnel client; throws KvError for a command the tunnel never
// carries.
void SendCommand(TcpClient& client, const TextCommand& command);
// Writes the command to the COM port with its framing; throws KvError for a command the
// COM port never carries.
void SendCommand(SerialPort& port, const TextCommand& command);

}  // namespace kv
