#pragma once

#include <cstdint>

#include "ModuleGpio.h"

namespace kv::sim {

// The I/O card select of a modular frame: a DATA pulse (low, then high) while CLK stays
// high connects the I/O card to the module's serial side; CLK going low hands the line
// back to the main controller.
class ModularCardSelect {
  public:
    // Watches the module's lines from now on (chained after the module's own handler).
    explicit ModularCardSelect(ModuleGpio& gpio);
    ModularCardSelect(const ModularCardSelect&) = delete;
    ModularCardSelect& operator=(const ModularCardSelect&) = delete;

    bool cardSelected() const { return selected_; }

    int pulses = 0;  // pulses that selected the card

  private:
    void observe();

    const ModuleGpio& gpio_;
    std::uint8_t last_;
    bool selected_ = false;
};

}  // namespace kv::sim
