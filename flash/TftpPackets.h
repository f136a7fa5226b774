#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/ports/Bytes.h"

namespace kv {

// The write half of TFTP as the network module understands it: one write request, then
// numbered data blocks of up to 512 bytes, each answered before the next goes out.

constexpr std::uint16_t kTftpPort = 69;
constexpr std::size_t kTftpBlockSize = 512;

constexpr std::uint16_t kTftpOpWriteRequest = 2;
constexpr std::uint16_t kTftpOpData = 3;
constexpr std::uint16_t kTftpOpAck = 4;
constexpr std::uint16_t kTftpOpError = 5;

// Upload kinds: they choose the image slot the module writes to.
constexpr int kTftpKindWebServer = 1;        // "X5"
constexpr int kTftpKindWebContent = 2;       // "WEB1"
constexpr int kTftpKindFirmwareImage = 3;    // "/var/firmware.img", web package firmware.bin
constexpr int kTftpKindWebServerSecond = 5;  // "X9"

// Remote file name of the write request for an upload kind; throws KvError for an
// unknown kind.
std::string TftpRemoteName(int kind);

// 00 02, remote name, 00, "octet", 00.
Bytes TftpWriteRequest(int kind);

// 00 03, block counter modulo 65536 high byte first, then the data (at most 512 bytes).
Bytes TftpDataPacket(std::int64_t blockCounter, ByteView data);

// The message of a TFTP ERROR packet (00 05, error code, text, 00), or nullopt for any
// other datagram. A message without its closing zero ends with the datagram; control
// characters are shown as '?'.
std::optional<std::string> TftpErrorMessage(ByteView datagram);

// Web server images go to "X9" on modules whose MAC text has "8" as the first hex
// digit of its second octet (the fourth character, "00-8x-..."), else to "X5".
int TftpWebServerKind(const std::string& mac);

}  // namespace kv
