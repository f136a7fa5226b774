#include "Stm32BootControl.h"

#include <functional>
#include <utility>

namespace kv::sim {

Stm32BootControl::Stm32BootControl(Stm32Bootloader& cpu, ModuleGpio& gpio, Wiring wiring)
    : cpu_(cpu),
      gpio_(gpio),
      wiring_(wiring),
      levels_(gpio.levels()),
      latchesSeen_(gpio.latches.size()) {
    std::function<void()> previous = std::move(gpio_.changed);
    gpio_.changed = [this, previous] {
        if (previous) previous();
        observe();
    };
}

void Stm32BootControl::reset(bool boot0) {
    ++resets;
    if (boot0) ++bootloaderStarts;
    cpu_.reset(boot0);
}

void Stm32BootControl::observe() {
    const std::uint8_t now = gpio_.levels();
    if (wiring_ == Wiring::DirectLines) {
        if (!(levels_ & kDATA) && (now & kDATA)) reset((now & kEN) != 0);
    } else {
        while (latchesSeen_ < gpio_.latches.size()) {
            reset((gpio_.latches[latchesSeen_++] & kBoot0Bit) != 0);
        }
    }
    levels_ = now;
}

}  // namespace kv::sim
