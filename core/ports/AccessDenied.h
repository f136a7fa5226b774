#pragma once

#include "core/ports/ChannelError.h"

namespace kv {

// A serial port or HID device exists but this user may not open it. The message says so
// and names the fix (the dialout group, the package's udev rule); it goes to the log and
// to kvboot's error, the window's own messages stay as they are.
class AccessDenied : public ChannelError {
  public:
    using ChannelError::ChannelError;
};

}  // namespace kv
