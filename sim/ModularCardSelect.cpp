#include "ModularCardSelect.h"

#include <utility>

namespace kv::sim {

namespace {
constexpr std::uint8_t kCLK = 0x02;
constexpr std::uint8_t kDATA = 0x04;
}  // namespace

ModularCardSelect::ModularCardSelect(ModuleGpio& gpio) : gpio_(gpio), last_(gpio.levels()) {
    auto previous = std::move(gpio.changed);
    gpio.changed = [this, previous = std::move(previous)] {
        if (previous) previous();
        observe();
    };
}

void ModularCardSelect::observe() {
    const std::uint8_t now = gpio_.levels();
    const bool clockHeld = (last_ & kCLK) && (now & kCLK);
    if (clockHeld && !(last_ & kDATA) && (now & kDATA)) {
        selected_ = true;
        ++pulses;
    }
    if ((last_ & kCLK) && !(now & kCLK)) selected_ = false;
    last_ = now;
}

}  // namespace kv::sim
