#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/ports/Bytes.h"
#include "flash/HidHexBlocks.h"

namespace kv {

// Flash window of the USB devices' bootloader: the application starts at 0x2000 and the
// bootloader keeps the top of the 64 KiB space.
constexpr int kHidStartAddress = 8192;
constexpr int kHidEndAddress = 65488;
// The HEX line at 0x1FF0; the transfer data begins with the line after it.
inline constexpr const char* kHidStartLine = ":101FF0";

// Variables of the USB HID bootloader link.
struct HidState {
    int HidStartAddress = kHidStartAddress;
    int HidEndAddress = kHidEndAddress;
    std::string HidStartLine = kHidStartLine;
    int HidAddress = 0;  // address of the next block
    int HidBlockCounter = 0;
    bool HidTransferRunning = false;
    bool HidReadySeen = false;
    bool HidInfoReceived = false;
    bool HidVerifyFailed = false;
    // A verify request went out and its reply has not come yet: the one report that moves
    // the transfer on.
    bool HidVerifyAwaited = false;
    std::string HidVersionReply;
    std::array<std::uint8_t, 64> HidCommand{};
    Bytes HidReceived;
    // The HEX file during a transfer, already cut into blocks, and the next one to send.
    std::vector<HidBlock> HidHexFile;
    std::size_t HidNextBlock = 0;

    // Set when the end-of-transfer command went out after the last block was verified.
    bool HidTransferCompleted = false;
    // Last input report (or transfer start): the transfer gives up when the device
    // stays silent too long.
    Clock::TimePoint HidLastReport{};
};

}  // namespace kv
