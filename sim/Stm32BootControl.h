#pragma once

#include <cstdint>

#include "ModuleGpio.h"
#include "Stm32Bootloader.h"

namespace kv::sim {

// How a CPU card's BOOT0 and reset inputs hang on the network module's GPIO lines.
// - DirectLines ("NRV-CTL"): EN drives BOOT0 and DATA the active-low reset; the CPU
//   starts when DATA rises, in its bootloader when EN is high at that moment.
// - ShiftRegister ("RV-CTL2"): every latch of the 9-bit register resets the CPU; the bit
//   clocked in as b2 of set_shift_register's pattern is its BOOT0.
// Chains itself into the GPIO model's change notification; must outlive the module.
class Stm32BootControl {
  public:
    enum class Wiring { DirectLines, ShiftRegister };

    static constexpr std::uint8_t kEN = 0x01;
    static constexpr std::uint8_t kDATA = 0x04;
    // b2 of the pattern: the register takes b7 first, so b(i) ends up at bit i + 1.
    static constexpr std::uint16_t kBoot0Bit = 1u << 3;

    Stm32BootControl(Stm32Bootloader& cpu, ModuleGpio& gpio, Wiring wiring);
    Stm32BootControl(const Stm32BootControl&) = delete;
    Stm32BootControl& operator=(const Stm32BootControl&) = delete;

    int resets = 0;
    int bootloaderStarts = 0;

  private:
    void observe();
    void reset(bool boot0);

    Stm32Bootloader& cpu_;
    ModuleGpio& gpio_;
    Wiring wiring_;
    std::uint8_t levels_;
    std::size_t latchesSeen_;
};

}  // namespace kv::sim
