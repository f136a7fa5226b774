#pragma once

#include <array>
#include <chrono>
#include <string>

#include "core/Context.h"

namespace kv {

// The network module's GPIO lines and bootloader-mode commands (UDP 30704, one answer
// awaited up to 2000 ms after each message; a missing answer is not an error, a send
// failure is thrown to the caller).

// The operations that take a device away from normal operation (a card on the select
// lines or the shift register, bootloader mode, a card or bootloader speed on the serial
// channel) mark the open device as switched over when they address it (see
// SharedState::deviceSwitchedOver) and record the change in the run journal before it
// goes out. `normalSerial` names the module's setting before a set-up change.
void NoteSwitchedOver(Context& ctx, const std::string& address, DeviceChange change,
                      const std::string& normalSerial = {});

// line 1 EN, 2 CLK, 3 DATA; level 0 or 1.
void update_GPIO(Context& ctx, int line, int level, const std::string& address);
// Card select code on all three lines (cut to 3 bits).
void select_GPIO(Context& ctx, int code, const std::string& address);
// "INPUT" or "OUTPUT" (anything else counts as "INPUT").
void set_GPIO_directions(Context& ctx, const std::string& direction, const std::string& address);
// Clocks b7 first down to b0, then the final level, into the shift register.
void set_shift_register(Context& ctx, const std::array<int, 8>& bits, int finalLevel,
                        const std::string& address);
void enter_BL_mode(Context& ctx, const std::string& address, int baud, int parityFlag);
void exit_BL_mode(Context& ctx, const std::string& address);
void reset_GPIO_lines(Context& ctx, const std::string& address);
// The pulse reset_GPIO_lines holds the lines for.
inline constexpr auto kResetPause = std::chrono::milliseconds(300);

// The module's serial channel, rewritten through its set-up record on TCP 30718 with
// TcpClient1. Failures are shown to the operator ("Error in Setup:\r" + text) and are
// not passed on.
void setup_57600_even(Context& ctx, const std::string& address);
void setup_57600_none(Context& ctx, const std::string& address);
void setup_19200_none(Context& ctx, const std::string& address);
void setup_9600_none(Context& ctx, const std::string& address);

}  // namespace kv
