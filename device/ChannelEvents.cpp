#include "device/ChannelEvents.h"

#include <algorithm>

namespace kv {

namespace {

void deliver(Context& ctx, const Bytes& bytes) {
    if (bytes.empty()) return;
    const std::size_t used =
        ctx.state.RxCount > 0 ? static_cast<std::size_t>(ctx.state.RxCount) : 0;
    const std::size_t room =
        SharedState::kRxBufferSize - std::min(used, SharedState::kRxBufferSize);
    ctx.state.appendRx(bytes);
    if (bytes.size() > room) {
        ctx.log_line("RxBuffer full: " + std::to_string(bytes.size() - room) + " bytes dropped");
    }
}

}  // namespace

void ClientSocket1Read(Context& ctx) {
    if (ctx.ports.ClientSocket1) deliver(ctx, ctx.ports.ClientSocket1->poll());
}

void ComPort1RxChar(Context& ctx) {
    SerialPort* port = ctx.ports.ComPort1;
    if (port && port->isOpen()) deliver(ctx, port->poll());
}

void RegisterChannelEvents(Context& ctx) {
    ctx.addEventSource([&ctx] { ClientSocket1Read(ctx); });
    ctx.addEventSource([&ctx] { ComPort1RxChar(ctx); });
}

}  // namespace kv
