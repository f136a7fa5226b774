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

// Mouse released over the check column (StringGrid1): toggles the controller's selection.
void StringGrid1MouseUp(Context& ctx, int row);
// Mouse released over the controller rows (StringGrid2): column 4 chooses the row's file.
void StringGrid2MouseUp(Context& ctx, int column, int row);

}  // namespace kv
