#include "flash/TftpPackets.h"

#include "core/ports/ChannelError.h"

namespace kv {

std::string TftpRemoteName(int kind) {
    switch (kind) {
        case kTftpKindWebServer:
            return "X5";
        case kTftpKindWebContent:
            return "WEB1";
        case kTftpKindFirmwareImage:
            return "/var/firmware.img";
        case kTftpKindWebServerSecond:
            return "X9";
        default:
            throw KvError("Unknown TFTP upload kind " + std::to_string(kind));
    }
}

Bytes TftpWriteRequest(int kind) {
    static const std::string kMode = "octet";
    const std::string name = TftpRemoteName(kind);
    Bytes packet;
    packet.reserve(4 + name.size() + kMode.size());
    packet.push_back(0x00);
    packet.push_back(static_cast<std::uint8_t>(kTftpOpWriteRequest));
    packet.insert(packet.end(), name.begin(), name.end());
    packet.push_back(0x00);
    packet.insert(packet.end(), kMode.begin(), kMode.end());
    packet.push_back(0x00);
    return packet;
}

std::optional<std::string> TftpErrorMessage(ByteView datagram) {
    // Opcode and error code; the message may be missing altogether.
    if (datagram.size() < 4 || datagram[0] != 0x00 || datagram[1] != kTftpOpError) {
        return std::nullopt;
    }
    // Longer texts are not a module's message; the log keeps a readable line.
    constexpr std::size_t kMaxMessage = 200;
    std::string message;
    for (std::size_t i = 4; i < datagram.size() && datagram[i] != 0x00; ++i) {
        if (message.size() == kMaxMessage) break;
        const auto c = datagram[i];
        message += (c < 0x20 || c >= 0x7F) ? '?' : static_cast<char>(c);
    }
    const int code = datagram[2] * 256 + datagram[3];
    return "(" + std::to_string(code) + ") " + message;
}

Bytes TftpDataPacket(std::int64_t blockCounter, ByteView data) {
    if (data.size() > kTftpBlockSize) throw KvError("TFTP data block longer than 512 bytes");
    const auto block = static_cast<std::uint16_t>(blockCounter & 0xFFFF);
    Bytes packet;
    packet.reserve(4 + data.size());
    packet.push_back(0x00);
    packet.push_back(static_cast<std::uint8_t>(kTftpOpData));
    packet.push_back(static_cast<std::uint8_t>(block >> 8));
    packet.push_back(static_cast<std::uint8_t>(block & 0xFF));
    packet.insert(packet.end(), data.begin(), data.end());
    return packet;
}

int TftpWebServerKind(const std::string& mac) {
    return mac.size() > 3 && mac[3] == '8' ? kTftpKindWebServerSecond : kTftpKindWebServer;
}

}  // namespace kv
