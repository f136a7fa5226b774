#pragma once

#include <chrono>
#include <string>

#include "core/Context.h"

namespace kv {

// After a firmware image has gone to "/var/firmware.img", the device is asked over the
// tunnel to check it against its MD5 digest and to flash it.

constexpr const char* kFlashImageConfirmed = "UPGRADE WAS SUCCESFUL\n";
constexpr const char* kFlashImageNoReply = "UNSUCCESFUL";
constexpr auto kFlashImageReplyWait = std::chrono::milliseconds(35000);

// MD5 digest (RFC 1321) of the whole file as 32 upper-case hexadecimal digits; throws
// KvError when the file cannot be read.
std::string FileMd5Hex(const std::string& file);

// Takes the module out of bootloader mode, connects TcpClient1 to the tunnel of the
// selected device and sends the check command. Returns the device's reply line (without
// its CR LF), or "UNSUCCESFUL" when no reply came within 35 s or the tunnel did not
// come up. The connection is left open.
std::string VerifyFlashImage(Context& ctx, const std::string& file, const std::string& host);

}  // namespace kv
