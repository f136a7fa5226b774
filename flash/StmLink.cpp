#include "flash/StmLink.h"

#include <algorithm>

#include "flash/StmFrames.h"

namespace kv {

namespace {

// Pumping step of the tunnel socket, which offers no wait of its own.
constexpr auto kSocketPumpStep = std::chrono::milliseconds(1);

std::size_t rxCount(const Context& ctx) {
    return ctx.state.RxCount > 0 ? static_cast<std::size_t>(ctx.state.RxCount) : 0;
}

}  // namespace

void StmSend(Context& ctx, ByteView bytes) {
    if (ctx.state.ConnectionKind == ConnectionKind::Network && ctx.ports.ClientSocket1) {
        ctx.ports.ClientSocket1->send(bytes);
    } else if (ctx.state.ConnectionKind == ConnectionKind::Serial && ctx.ports.ComPort1) {
        ctx.ports.ComPort1->write(bytes);
    }
}

void StmClearRx(Context& ctx) {
    ctx.ProcessMessages();
    ctx.state.RxCount = 0;
}

void StmWaitRx(Context& ctx, std::size_t wanted, std::chrono::milliseconds limit) {
    wanted = std::min(wanted, SharedState::kRxBufferSize);
    SerialPort* port = ctx.ports.ComPort1;
    if (ctx.state.ConnectionKind == ConnectionKind::Serial && port && port->isOpen()) {
        if (rxCount(ctx) < wanted) {
            Bytes arrived = port->read(wanted - rxCount(ctx), limit);
            ctx.state.appendRx(arrived);
        }
        ctx.ProcessMessages();
        return;
    }
    if (ctx.state.ConnectionKind == ConnectionKind::Network) {
        const auto deadline = ctx.clock.now() + limit;
        for (;;) {
            ctx.ProcessMessages();
            if (rxCount(ctx) >= wanted) return;
            const auto now = ctx.clock.now();
            if (now >= deadline) return;
            ctx.sleep(std::min<std::chrono::milliseconds>(
                kSocketPumpStep,
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)));
        }
    }
    ctx.sleep(limit);
    ctx.ProcessMessages();
}

bool StmCommand(Context& ctx, std::uint8_t code, std::size_t replyLength) {
    const Bytes frame = StmCommandFrame(code);
    StmClearRx(ctx);
    // The trace lines are part of every run's log, whatever the detail switch says.
    ctx.log_and_show("-> " + StmHex(frame, " "));
    StmSend(ctx, frame);
    replyLength = std::max<std::size_t>(replyLength, 1);
    for (int poll = 0; poll < kStmCommandPolls; ++poll) {
        StmWaitRx(ctx, replyLength, kStmCommandPoll);
        if (rxCount(ctx) == 0) continue;
        const bool complete = ctx.state.RxBuffer[0] == kStmAck && rxCount(ctx) >= replyLength;
        if (!complete) {
            const bool refused = ctx.state.RxBuffer[0] != kStmAck;
            StmWaitRx(ctx, refused ? SharedState::kRxBufferSize : replyLength, kStmCommandPoll);
        }
        ctx.log_and_show("<- " + StmHex(ctx.state.rxBytes()));
        return true;
    }
    return false;
}

}  // namespace kv
