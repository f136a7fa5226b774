#pragma once

#include "core/Context.h"

namespace kv {

// Returns the device of a finished network upgrade to normal operation and closes the
// program's connections to it.
void RestoreDeviceAfterUpgrade(Context& ctx);

// The main window's close query: asks the operator, returns a connected device to normal
// operation, closes the connections and the log. True when the window may close.
bool FormCloseQuery(Context& ctx);

}  // namespace kv
