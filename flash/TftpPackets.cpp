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
