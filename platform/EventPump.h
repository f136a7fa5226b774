#pragma once

namespace kv {

// The engine thread is not a QThread: it gets an event dispatcher so that sockets and
// serial ports created on it can make progress in the background, and the message pump
// (Context::ProcessMessages, through the channels' poll calls) drives it.
void EnsureEventDispatcher();
void PumpEvents();

}  // namespace kv
