#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "core/Context.h"
#include "firmware/HexReaderState.h"

namespace kv {

// The chip's acknowledgement is polled for in rounds of this length, at most kStmAckPolls.
inline constexpr auto kStmAckPoll = std::chrono::milliseconds(15);
inline constexpr int kStmAckPolls = 101;
// Steps of one block, each answered: write command, address, data; read command, address,
// data.
inline constexpr std::size_t kStmTransferSteps = 6;
// Attempts per block before the run gives up on it.
inline constexpr int kStmBlockAttempts = 10;

// Programs a HEX file through the STM32 system bootloader on the current transport
// (ClientSocket1 for a network device, ComPort1 for a serial one): version check, identification,
// global erase, then every block written and read back. `reader` is the one CheckHexFile
// ran on for this file (its HexLineCount drives the progress bar).
// Never throws: a failure ends the run with its message logged and shown. Returns true
// only when the whole file was written and verified (up to its end-of-file record or
// its last line).
[[nodiscard]] bool StmProgram(Context& ctx, const HexReaderState& reader,
                              const std::string& fileName);

}  // namespace kv
