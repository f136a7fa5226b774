#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/Context.h"

namespace kv {

// The controller inventory of the connected device: one TControllerRec per controller in
// the Controllers list of the selected DeviceList entry, one row per controller in the
// controller grid. Each family has its own walk over the device's cards.

using CardAddressTable = std::array<std::uint8_t, SharedState::kCardAddressCount>;

// Matrix frames ("RV-CTL2" CPU): cards at walk numbers 1..7 behind the shift register.
void QueryCardsMatrix(Context& ctx, const std::string& address, const CardAddressTable& addresses,
                      int count);
// Modular matrices ("NRV-CTL" CPU): the one I/O card behind the GPIO pulse.
void QueryCardsModular(Context& ctx, const std::string& address, const CardAddressTable& addresses,
                       int count);
// Control panels and other slot devices on the network (address = CurrentIP) and serial
// devices (address = the COM port's name): the first `count` select codes.
void QueryCardsBySlot(Context& ctx, const std::string& address, const CardAddressTable& addresses,
                      int count);
// A device with one controller that cannot be asked (twisted-pair transmitters).
void AddSingleController(Context& ctx, const std::string& type, const std::string& firmware);

// What the matrix's shift register is loaded with to reach walk number k (1..7).
struct MatrixCardSelect {
    std::array<int, 8> bits;  // b0..b7
    int finalLevel;
};
MatrixCardSelect MatrixCardSelectCode(int walkNumber);

// Per-card queries: the card's identification text, "No card found" for a silent card,
// or an empty text when the query itself failed (shown as "Error in Query card:").
std::string QueryCardModular(Context& ctx, int cardNumber, const std::string& address);
std::string QueryCardMatrix(Context& ctx, const MatrixCardSelect& select,
                            const std::string& address);
std::string QueryCardSlot(Context& ctx, int selectCode, const std::string& address);
std::string QueryCardSerial(Context& ctx);

// The web content version from the module's web server (the fourth line of
// "/js/version.html"); empty after showing "Can not retreive Web Content Version".
std::string QueryWebContentVersion(Context& ctx, const std::string& address);

}  // namespace kv
