#pragma once

#include <chrono>

namespace kv {

// Fixed waits of the network device's upgrade rows (the fleet estimates read them too).

// Each of the three settle waits after a card's select code went out.
inline constexpr auto kCardSelectSettle = std::chrono::milliseconds(500);
// After every microcontroller row, before the next one starts.
inline constexpr auto kRowPause = std::chrono::milliseconds(1500);
// After an image went up by TFTP the module restarts: two waits with the message pump
// between them.
inline constexpr auto kAfterImageFirst = std::chrono::milliseconds(2000);
inline constexpr auto kAfterImageSecond = std::chrono::milliseconds(2500);
// Before the web content image: kBeforeWebContentRounds waits of kBeforeWebContent.
inline constexpr auto kBeforeWebContent = std::chrono::milliseconds(2000);
inline constexpr int kBeforeWebContentRounds = 3;
// After a web package's firmware: the tunnel is closed and opened again with this pause.
inline constexpr auto kRestartReconnectPause = std::chrono::milliseconds(300);

// Speed of a CPU's bootloader on a serial port, in bit/s (8E1).
inline constexpr int kStmSerialBaud = 115200;

}  // namespace kv
