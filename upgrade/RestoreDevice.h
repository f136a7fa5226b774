#pragma once

#include "core/Context.h"

namespace kv {

// Returns the device of a finished network upgrade to normal operation and closes the
// program's connections to it.
void RestoreDeviceAfterUpgrade(Context& ctx);

// The program's close: asks the operator, returns a connected device to normal operation,
// closes the connections and the log. True when the program may end.
bool CloseProgram(Context& ctx);
// The close without the question and without closing the log. False when the device does
// not answer and the operator chose to leave it as it is.
bool RestoreOnClose(Context& ctx);

}  // namespace kv
