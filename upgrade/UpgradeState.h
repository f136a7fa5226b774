#pragma once

#include "core/Context.h"
#include "core/RunResult.h"
#include "firmware/HexReaderState.h"
#include "flash/PicState.h"

namespace kv {

// State of upgrade runs that outlives one run: the PIC link's and the HEX reader's.
struct UpgradeState {
    PicState pic;
    HexReaderState hex;
    // What the PIC rows of a run left on a device with a CPU row that the normal restore of
    // its kind does not undo: the module's bootloader mode (an "NRV-CTL" device not set up
    // directly) and a card latched by the shift register (a directly set-up matrix).
    bool bootloaderModeEntered = false;
    bool cardLatched = false;
    // What the last upgrade run did, row by row (written as the run goes).
    RunResult lastRun;
};

// The context's upgrade state, made on first use and kept as long as the context.
UpgradeState& upgradeState(Context& ctx);

}  // namespace kv
