#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// What the PIC flash operations need to know about the controller being programmed.

// Program-memory rows erased before programming: one erase frame every `step` bytes from
// `first` to `last` inclusive.
struct PicEraseRange {
    std::int64_t step;
    std::int64_t first;
    std::int64_t last;
};

inline constexpr std::string_view kFibreReceiverCard = "LNK-FBR-RC330-MAX";
inline constexpr std::string_view kFibreSenderCard = "LNK-FBR-SN330-MAX";

// Lowest address written from the first 64 KiB of a file: the bootloader lives below it.
inline constexpr std::int64_t kPicFirstWritableAddress = 0x0800;
// Highest block address written: the last 64-byte row of the 128 KiB program memory.
inline constexpr std::int64_t kPicLastWritableAddress = 0x1FFC0;

PicEraseRange PicEraseRangeFor(std::string_view controllerType);

// The fibre extender cards: 1024-byte rows, erased blocks are written too and nothing is
// read back.
bool PicIsFibreCard(std::string_view controllerType);

// Divisor of a record's full address for the programming progress bar (0 to 100).
int PicProgressDivisor(std::string_view controllerType);

}  // namespace kv
