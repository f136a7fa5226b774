#pragma once

#include <chrono>

#include "core/Context.h"

namespace kv {

// Fixed waits of the way back to normal operation.
// Between the select codes 0 and 7 of the main controller.
inline constexpr auto kSelectPause = std::chrono::milliseconds(100);
// Between the two shift register patterns that release the CPU.
inline constexpr auto kShiftPause = std::chrono::milliseconds(100);
// Before the tunnel is opened again to restore the device.
inline constexpr auto kCloseSettle = std::chrono::milliseconds(150);
// After the cards were released: kCardReleaseRounds rounds of kCardReleaseRound.
inline constexpr auto kCardReleaseRound = std::chrono::milliseconds(1000);
inline constexpr int kCardReleaseRounds = 11;

// Returns the device of a finished network upgrade to normal operation and closes the
// program's connections to it.
void RestoreDeviceAfterUpgrade(Context& ctx);

// The main window's close query: asks the operator, returns a connected device to normal
// operation, closes the connections and the log. True when the window may close.
bool FormCloseQuery(Context& ctx);

}  // namespace kv
