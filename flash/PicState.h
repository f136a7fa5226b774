#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "flash/PicFrame.h"

namespace kv {

// State of the PIC bootloader link and flash operations that outlives one call. The caller
// keeps one for the whole run of the program. RowOk,
// RetransmissionCount and RewriteCount live in the shared state.
struct PicState {
    // Length of the reply expected for the next read on the network, derived from the last
    // acknowledged write.
    int PicExpectedReplyLength = 0;
    // Data part of the last decoded read reply.
    std::array<std::uint8_t, kPicBlockSize> PicReplyData{};
    // Decoded bytes of the last read reply; a full reply has 7 + 16 + checksum + ETX.
    int PicReplyCount = 0;
    // Byte pairs (read<->written) of the last failed verification.
    std::string VerifyDump;
};

}  // namespace kv
