#pragma once

#include <array>
#include <cstdint>

namespace kv {

// The module's GPIO and bootloader-mode messages on UDP 30704: nine bytes each.
inline constexpr std::uint16_t kGpioPort = 30704;
using GpioMessage = std::array<std::uint8_t, 9>;

// The three lines as the device wires them; bit (line - 1) in masks and states.
enum class GpioLine : int { EN = 1, CLK = 2, DATA = 3 };
inline constexpr std::uint8_t kAllLines = 0x07;

// Line states: only the lines in `mask` change.
GpioMessage SetLineStatesMessage(std::uint8_t mask, std::uint8_t states);
// Every line active high.
GpioMessage SetActiveLevelsMessage();
// 00 = all inputs, 07 = all outputs.
GpioMessage SetDirectionsMessage(std::uint8_t directions);
// The device's microcontroller goes into its serial bootloader with this serial setting;
// the baud rate is carried big-endian in bytes 2 and 3, the parity flag (1 = even) in byte 8.
GpioMessage EnterBootloaderMessage(int baud, int parityFlag);
GpioMessage ExitBootloaderMessage();

}  // namespace kv
