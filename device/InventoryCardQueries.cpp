#include <chrono>
#include <exception>

#include "device/CardIdent.h"
#include "device/Inventory.h"
#include "device/TextCommands.h"
#include "module/GpioMessages.h"
#include "module/ModuleOperations.h"

namespace kv {

namespace {

constexpr int EN = static_cast<int>(GpioLine::EN);
constexpr int CLK = static_cast<int>(GpioLine::CLK);
constexpr int DATA = static_cast<int>(GpioLine::DATA);

// Modular I/O cards wake on a DATA pulse while CLK is high and need the time after it
// to switch their serial line onto the bus.
constexpr auto kModularPulseLow = std::chrono::milliseconds(500);
constexpr auto kModularCardWake = std::chrono::milliseconds(700);
// The shift register outputs settle before the clock pulse that starts the card.
constexpr auto kRegisterSettle = std::chrono::milliseconds(100);
constexpr auto kClockPulse = std::chrono::milliseconds(3);
// A matrix card boots for half a second after it is started; events run meanwhile.
constexpr int kMatrixCardBootSlices = 10;
constexpr auto kMatrixCardBootSlice = std::chrono::milliseconds(50);
constexpr auto kSlotSelectSettle = std::chrono::milliseconds(500);
// Select code 7 is the device's main controller, never a card.
constexpr int kMainControllerCode = 7;

// Bits 5 and 6 of every matrix card pattern are fixed high; the walk number's bits go to
// b0 (its bit 1), b1 (its bit 2) and the final level (its bit 0).
constexpr std::array<int, 8> kMatrixFixedBits{0, 0, 0, 0, 0, 1, 1, 0};

void detail(Context& ctx, const std::string& text) {
    if (ctx.detail()) ctx.log_and_show(text);
}

// A card that cannot even be selected is reported here; the walk sees an empty reply.
template <typename Query>
std::string guarded(Context& ctx, Query query) {
    try {
        return query();
    } catch (const std::exception& e) {
        ctx.error_box(std::string("Error in Query card:\r") + e.what());
        return {};
    }
}

}  // namespace

MatrixCardSelect MatrixCardSelectCode(int k) {
    MatrixCardSelect select{kMatrixFixedBits, k & 1};
    select.bits[0] = (k >> 1) & 1;
    select.bits[1] = (k >> 2) & 1;
    return select;
}

std::string QueryCardModular(Context& ctx, int cardNumber, const std::string& address) {
    return guarded(ctx, [&] {
        detail(ctx, "Query Card (" + std::to_string(cardNumber) + ")");
        update_GPIO(ctx, CLK, 1, address);
        update_GPIO(ctx, DATA, 0, address);
        ctx.sleep(kModularPulseLow);
        update_GPIO(ctx, DATA, 1, address);
        ctx.sleep(kModularCardWake);
        if (cardNumber == kMainControllerCode) return std::string(kNoCardFound);
        return ReadCardIdent(ctx, CardIdentVariant::Network300);
    });
}

std::string QueryCardMatrix(Context& ctx, const MatrixCardSelect& select,
                            const std::string& address) {
    return guarded(ctx, [&] {
        detail(ctx, "Query Card started");
        set_shift_register(ctx, select.bits, select.finalLevel, address);
        ctx.sleep(kRegisterSettle);
        update_GPIO(ctx, DATA, 0, address);
        update_GPIO(ctx, CLK, 0, address);
        ctx.sleep(kClockPulse);
        update_GPIO(ctx, CLK, 1, address);
        for (int i = 0; i < kMatrixCardBootSlices; ++i) {
            ctx.ProcessMessages();
            ctx.sleep(kMatrixCardBootSlice);
        }
        std::string reply = ReadCardIdent(ctx, CardIdentVariant::Network800);
        update_GPIO(ctx, EN, 1, address);
        return reply;
    });
}

std::string QueryCardSlot(Context& ctx, int selectCode, const std::string& address) {
    return guarded(ctx, [&] {
        detail(ctx, "Query Card (" + std::to_string(selectCode) + ")");
        // Code 0 first, so the lines never pass through another card's code.
        select_GPIO(ctx, 0, address);
        select_GPIO(ctx, selectCode, address);
        ctx.sleep(kSlotSelectSettle);
        if (selectCode == kMainControllerCode) return std::string(kNoCardFound);
        return ReadCardIdent(ctx, CardIdentVariant::Network300);
    });
}

std::string QueryCardSerial(Context& ctx) {
    return ReadCardIdent(ctx, CardIdentVariant::Serial);
}

}  // namespace kv
