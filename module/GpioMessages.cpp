#include "module/GpioMessages.h"

namespace kv {

namespace {
constexpr std::uint8_t kSetStates = 0x1B;
constexpr std::uint8_t kSetActiveLevels = 0x1A;
constexpr std::uint8_t kSetDirections = 0x19;
constexpr std::uint8_t kEnterBootloader = 0x20;
constexpr std::uint8_t kExitBootloader = 0x21;

// The line commands leave the unused 32-bit halves of their mask and value fields at FF.
GpioMessage lineMessage(std::uint8_t command, std::uint8_t mask, std::uint8_t value) {
    return {command, mask, 0xFF, 0xFF, 0xFF, value, 0xFF, 0xFF, 0xFF};
}
}  // namespace

GpioMessage SetLineStatesMessage(std::uint8_t mask, std::uint8_t states) {
    return lineMessage(kSetStates, mask & kAllLines, states & kAllLines);
}

GpioMessage SetActiveLevelsMessage() {
    return lineMessage(kSetActiveLevels, kAllLines, 0x00);
}

GpioMessage SetDirectionsMessage(std::uint8_t directions) {
    return lineMessage(kSetDirections, kAllLines, directions & kAllLines);
}

GpioMessage EnterBootloaderMessage(int baud, int parityFlag) {
    return {kEnterBootloader,
            0x00,
            static_cast<std::uint8_t>(baud / 256),
            static_cast<std::uint8_t>(baud % 256),
            0x00,
            0x00,
            0x00,
            0x00,
            static_cast<std::uint8_t>(parityFlag)};
}

GpioMessage ExitBootloaderMessage() {
    return {kExitBootloader, 0, 0, 0, 0, 0, 0, 0, 0};
}

}  // namespace kv
