#pragma once

#include <string>

#include "core/Context.h"

namespace kv {

// State reset run once at start: CurrentIP, Device Properties, HEX info, CardAddresses,
// grid layout, CardQueryCount.
void StateReset(Context& ctx);
// Empties the four "Device Properties" values.
void ClearDeviceProperties(Context& ctx);
// One empty row in the controller grid, laid out and disabled.
void GridReset(Context& ctx);
// Applies the layout and disables the controller grid until an inventory is shown.
void GridLayout(Context& ctx);

// File filter offered for a controller row's firmware file.
std::string FirmwareFileFilter(const std::string& controllerType, const std::string& mac);

// Ticks or unticks a controller row for the next upgrade.
void ToggleRowSelected(Context& ctx, int row);
// Asks whether to modify the row's path and lets the operator pick its file.
void PickRowFile(Context& ctx, int row);
// The row's firmware file and its file cell, without asking.
void SetRowFile(Context& ctx, std::size_t row, const std::string& path);

}  // namespace kv
