#pragma once

#include <chrono>
#include <string>

#include "core/Context.h"

namespace kv {

constexpr auto kTftpAnswerWait = std::chrono::milliseconds(10000);
constexpr int kTftpSendCount = 3;

// Writes `file` to the network module at `host` (UDP port 69 through TFTP1) under the
// remote name of `kind` (flash/TftpPackets.h). Kind 3 (a web package's firmware.bin)
// then has the device check and flash the image (VerifyFlashImage).
//
// Returns true when the image went through (and, for kind 3, the device confirmed it).
// On failure RowOk is cleared (the caller sets it before the call); a failed transfer has
// shown the error box "Error while processing:\r" + the failure's text, a refused flash
// check shows nothing.
//
// TFTP1 is used as the caller left it; when it is not bound, it is bound to a free local
// port for the transfer and closed again afterwards.
bool TftpUpload(Context& ctx, const std::string& host, const std::string& file, int kind);

}  // namespace kv
