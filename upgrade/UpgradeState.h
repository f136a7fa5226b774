#pragma once

#include "core/Context.h"
#include "firmware/HexReaderState.h"
#include "flash/PicState.h"

namespace kv {

// State of upgrade runs that outlives one run: the PIC link's and the HEX reader's.
struct UpgradeState {
    PicState pic;
    HexReaderState hex;
};

// The context's upgrade state, made on first use and kept as long as the context.
UpgradeState& upgradeState(Context& ctx);

}  // namespace kv
