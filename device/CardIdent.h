#pragma once

#include <chrono>
#include <string>

#include "core/Context.h"

namespace kv {

enum class CardIdentVariant {
    Network300,  // tunnel, 300 ms per byte (NRV-CTL cards, control panel slots)
    Network800,  // tunnel reconnected first, 800 ms per byte (RV-CTL2 cards)
    Serial,      // COM port and RxBuffer (fibre and other serial devices)
};

// Asks the selected card to identify itself. Returns the card's text, or exactly
// "No card found" when nothing (or not enough, or more than the 256-byte reply buffer)
// arrived in time. A failure while connecting or sending is shown as
// "Error in Query card:\r" + its text and gives an empty result.
std::string ReadCardIdent(Context& ctx, CardIdentVariant variant);

}  // namespace kv
