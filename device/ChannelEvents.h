#pragma once

#include "core/Context.h"

namespace kv {

// Arrivals of the event-driven tunnel socket and of the COM port, appended to RxBuffer.
void ClientSocket1Read(Context& ctx);
void ComPort1RxChar(Context& ctx);

// Makes ProcessMessages deliver both; called once when the main window is created.
void RegisterChannelEvents(Context& ctx);

}  // namespace kv
