#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "core/Context.h"

namespace kv {

// Builds the controller list of the selected device and the grid rows beside it: row i
// of the grid is entry i of the list, and every entry is also written to the log file.
class InventoryRows {
  public:
    explicit InventoryRows(Context& ctx) : ctx_(ctx) {}

    // Empties the device's list and leaves the grid with one empty row.
    void reset();
    // Appends `rec` (not selected, no file); `typeCell` replaces the type in column 0.
    void append(TControllerRec rec, const std::optional<std::string>& typeCell = std::nullopt);
    std::size_t count();
    // The device the rows belong to; throws KvError when SelectedDevice is out of range.
    TMatrixRec& device();

  private:
    Context& ctx_;
};

}  // namespace kv
