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

// The program's close: asks the operator, returns a connected device to normal operation,
// closes the connections and the log. True when the program may end.
bool CloseProgram(Context& ctx);
// The close without the question and without closing the log. False when the device does
// not answer and the operator chose to leave it as it is.
bool RestoreOnClose(Context& ctx);

// "The selected device is unreachable! ...", Cancel focused: asked when a device to
// restore does not answer.
MsgButton AskUnreachable(Context& ctx);

// Brings a device that a run left switched over (a journal entry of a run that died)
// back to normal operation with the steps the end of a run takes for what the entry
// records: bootloader mode off, the CPU and the cards released, the main controller
// selected, the module's serial channel at its normal setting, a USB device reset out of
// its bootloader. The device need not be the connected one; the context's shared state
// is left as it is. False when the device did not answer.
bool RestoreRecordedChanges(Context& ctx, const JournalEntry& entry);

}  // namespace kv
