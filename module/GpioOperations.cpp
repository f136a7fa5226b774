#include "module/ModuleOperations.h"

#include <chrono>

#include "core/ports/ChannelError.h"
#include "module/DeviceAnswers.h"
#include "module/GpioMessages.h"

namespace kv {

namespace {

constexpr auto kGpioAnswerWait = std::chrono::milliseconds(2000);
// The shift register's inputs need the line to settle between edges.
constexpr auto kClockPause = std::chrono::milliseconds(3);
// Select codes of normal operation: nothing selected, the main controller.
constexpr int kNoCardSelect = 0;
constexpr int kMainControllerSelect = 7;

const char* lineName(int line) {
    switch (line) {
        case static_cast<int>(GpioLine::EN):
            return "EN";
        case static_cast<int>(GpioLine::CLK):
            return "CLK";
        case static_cast<int>(GpioLine::DATA):
            return "DATA";
    }
    return nullptr;
}

UdpSocket& gpioClient(Context& ctx) {
    UdpSocket* udp = ctx.ports.XPORT_GPIO_Client;
    if (!udp) throw ChannelError("The GPIO client is not available");
    if (!udp->isBound() && !udp->bind(0, false)) {
        throw ChannelError("The GPIO client cannot be opened");
    }
    return *udp;
}

// One message and the wait for the module's answer, whose content nobody needs; only
// the module's own answer ends the wait early.
void exchange(Context& ctx, const std::string& address, const GpioMessage& message) {
    UdpSocket& udp = gpioClient(ctx);
    udp.sendTo(address, kGpioPort, message);
    (void)DeviceAnswers(ctx, udp, address).receive(kGpioAnswerWait);
}

void detailLine(Context& ctx, const std::string& text) {
    if (ctx.detail()) ctx.log_and_show(text);
}

}  // namespace

void NoteSwitchedOver(Context& ctx, const std::string& address, DeviceChange change,
                      const std::string& normalSerial) {
    if (address != ctx.state.CurrentIP) return;
    ctx.state.deviceSwitchedOver = true;
    ctx.journal_change(change, normalSerial);
}

void update_GPIO(Context& ctx, int line, int level, const std::string& address) {
    const char* name = lineName(line);
    if (!name) throw KvError("Invalid GPIO line " + std::to_string(line));
    const int shift = line - 1;
    exchange(ctx, address,
             SetLineStatesMessage(static_cast<std::uint8_t>(1 << shift),
                                  static_cast<std::uint8_t>(level << shift)));
    detailLine(ctx, std::string("-> update_GPIO: ") + name + " to " + std::to_string(level));
}

void select_GPIO(Context& ctx, int code, const std::string& address) {
    const int lines = code & kMainControllerSelect;
    if (lines != kNoCardSelect && lines != kMainControllerSelect)
        NoteSwitchedOver(ctx, address, DeviceChange::SelectLines);
    exchange(ctx, address, SetLineStatesMessage(kAllLines, static_cast<std::uint8_t>(code)));
    detailLine(ctx, "-> select_GPIO " + std::to_string(code));
}

void set_GPIO_directions(Context& ctx, const std::string& direction, const std::string& address) {
    exchange(ctx, address, SetActiveLevelsMessage());
    detailLine(ctx, "set_GPIO levels");
    exchange(ctx, address, SetDirectionsMessage(direction == "OUTPUT" ? kAllLines : 0x00));
    detailLine(ctx, "-> set_GPIO directions to " + direction);
}

void set_shift_register(Context& ctx, const std::array<int, 8>& bits, int finalLevel,
                        const std::string& address) {
    constexpr int EN = static_cast<int>(GpioLine::EN);
    constexpr int CLK = static_cast<int>(GpioLine::CLK);
    constexpr int DATA = static_cast<int>(GpioLine::DATA);
    NoteSwitchedOver(ctx, address, DeviceChange::ShiftRegister);
    auto step = [&](int line, int level) {
        update_GPIO(ctx, line, level, address);
        ctx.sleep(kClockPause);
    };

    update_GPIO(ctx, EN, 1, address);
    // The register shifts towards its far end, so the last bit must go in first.
    for (int i = 7; i >= 0; --i) {
        step(CLK, 0);
        step(DATA, bits[static_cast<std::size_t>(i)] != 0 ? 1 : 0);
        step(CLK, 1);
    }
    // The ninth edge clocks the final level; it stays on DATA afterwards.
    step(CLK, 0);
    step(DATA, finalLevel & 1);
    step(CLK, 1);
    step(EN, 0);

    std::string pattern;
    for (int bit : bits) pattern += std::to_string(bit);
    ctx.log_and_show("-> Set shift register to: " + std::to_string(finalLevel) + "|" + pattern);
}

void enter_BL_mode(Context& ctx, const std::string& address, int baud, int parityFlag) {
    NoteSwitchedOver(ctx, address, DeviceChange::BootloaderMode);
    exchange(ctx, address, EnterBootloaderMessage(baud, parityFlag));
    detailLine(ctx, "-> Enter BL mode ");
}

void exit_BL_mode(Context& ctx, const std::string& address) {
    exchange(ctx, address, ExitBootloaderMessage());
    detailLine(ctx, "-> Exit BL mode ");
}

void reset_GPIO_lines(Context& ctx, const std::string& address) {
    constexpr int EN = static_cast<int>(GpioLine::EN);
    constexpr int CLK = static_cast<int>(GpioLine::CLK);
    constexpr int DATA = static_cast<int>(GpioLine::DATA);
    update_GPIO(ctx, EN, 0, address);
    update_GPIO(ctx, CLK, 0, address);
    update_GPIO(ctx, DATA, 0, address);
    ctx.sleep(kResetPause);
    update_GPIO(ctx, DATA, 1, address);
}

}  // namespace kv
