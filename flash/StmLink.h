#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "core/Context.h"
#include "core/ports/Bytes.h"

namespace kv {

// One wait of StmCommand, and how many of them before it gives up (about 10 s: the
// chip's mass erase answers late).
inline constexpr auto kStmCommandPoll = std::chrono::milliseconds(100);
inline constexpr int kStmCommandPolls = 101;

// A network device: sends on ClientSocket1; a serial one: writes to ComPort1; else nothing.
void StmSend(Context& ctx, ByteView bytes);

// Sends a command (7F alone, any other code with its complement), logs "-> ..." and
// waits for the reply in RxBuffer, logging "<- ..." when one came. True when any reply
// byte arrived in time. `replyLength` is the length of a complete good reply: the wait
// ends as soon as that much has come behind an ACK; a shorter or refused reply is
// collected for one more poll period, as long as the chip needs to send the rest.
bool StmCommand(Context& ctx, std::uint8_t code, std::size_t replyLength = 1);

// Delivers what already arrived, then empties RxBuffer (RxCount = 0) before a send, so
// that late bytes of an earlier reply are not taken for the next one.
void StmClearRx(Context& ctx);

// Waits up to `limit` until RxBuffer holds `wanted` bytes, delivering arrivals. On the
// COM port the wait sleeps on the port itself and returns the moment the bytes are there;
// on the tunnel socket it pumps messages in short steps.
void StmWaitRx(Context& ctx, std::size_t wanted, std::chrono::milliseconds limit);

}  // namespace kv
