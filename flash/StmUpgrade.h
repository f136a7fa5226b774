#pragma once

#include <string>

#include "core/Context.h"
#include "firmware/HexReaderState.h"

namespace kv {

// Speed of the CPU's bootloader behind the module, in bit/s (8E1).
inline constexpr int kStmTunnelBaud = 57600;

// The tunnel socket is opened at most this many times while the CPU comes up in its
// bootloader; each try waits 3 s (1 s after the module's bootloader-mode command).
inline constexpr int kStmTunnelConnectTries = 10;

// "NRV-CTL" CPU: bootloader entry through the module's GPIO lines and 57600 8E1 set-up,
// StmProgram over ClientSocket1, then the way back to the firmware. True when the
// programming run succeeded. A tunnel that never accepts the connection fails the run
// ("Connection Lost Error" logged) and still returns the CPU to its firmware.
[[nodiscard]] bool StmUpgradeModular(Context& ctx, const HexReaderState& reader,
                                     const std::string& ip, const std::string& fileName);

// "RV-CTL2" CPU: bootloader entry through the module's shift register and either the
// direct 57600 8E1 set-up (DirectSetupMatrix / DirectSetupModular) or the module's
// bootloader-mode command, StmProgram, then the way back. True when the programming run
// succeeded. Throws KvError("There is no response from the bootloader.") when the
// synchronisation byte is not acknowledged (bootloader-mode variant); the way back is
// not taken then.
[[nodiscard]] bool StmUpgradeMatrix(Context& ctx, const HexReaderState& reader,
                                    const std::string& ip, const std::string& fileName);

}  // namespace kv
