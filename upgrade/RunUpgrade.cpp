#include "UpgradeProcedures.h"
#include "UpgradeRows.h"

namespace kv {

namespace {

void EnableUpgradeControls(Context& ctx, bool enabled) {
    ctx.ui.enable(UiElement::Grids, enabled);
    ctx.ui.enable(UiElement::Upgrade, enabled);
    ctx.ui.enable(UiElement::Find, enabled);
}

}  // namespace

void RunUpgrade(Context& ctx) {
    EnableUpgradeControls(ctx, false);
    const auto* rows = ctx.state.selectedControllers();
    const std::string first = rows && !rows->empty() ? rows->front().ControllerType : "";
    try {
        if (IsTwistedPairTransmitter(first)) {
            UpgradeSerialDevice(ctx);
        } else if (ctx.state.ConnectionKind == ConnectionKind::Usb) {
            UpgradeUsbDevice(ctx);
        } else {
            UpgradeNetworkDevice(ctx);
        }
    } catch (...) {
        EnableUpgradeControls(ctx, true);
        throw;  // to the application's general error display
    }
    EnableUpgradeControls(ctx, true);
}

}  // namespace kv
