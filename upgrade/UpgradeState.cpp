#include "UpgradeState.h"

namespace kv {

UpgradeState& upgradeState(Context& ctx) {
    if (!ctx.upgrade) {
        auto state = std::make_shared<UpgradeState>();
        ctx.upgrade = state.get();
        ctx.own(state);
    }
    return *ctx.upgrade;
}

}  // namespace kv
