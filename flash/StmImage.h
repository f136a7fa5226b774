#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <set>
#include <vector>

#include "flash/StmHexSource.h"

namespace kv {

// The data of a HEX file taken as one image, cut into the write requests an STM32
// bootloader accepts: every block starts on a 4-byte boundary, holds a multiple of 4
// bytes (at most 256), and stays inside one 64 KiB segment. Bytes the file does not
// hold inside a block are sent as 0xFF, the erased value, so the flash is unchanged
// there. Each word goes out in exactly one block: the chip programs a half-word only
// from the erased state, so writing it twice would fail.
class StmImage {
  public:
    static constexpr std::size_t kWord = 4;

    // Reads every data record (types 0 and 4 shape the image; others are ignored).
    // A malformed line throws the reader's KvError.
    static StmImage read(std::istream& in);

    // The blocks, not yet taken, that cover the words of [address, address + count).
    std::vector<StmBlock> takeBlocksCovering(std::uint32_t address, std::size_t count);

    std::size_t wordCount() const { return words_.size(); }

  private:
    StmBlock takeBlockAt(std::uint32_t word);

    // Word address -> its four bytes (0xFF where the file holds none).
    std::map<std::uint32_t, std::array<std::uint8_t, kWord>> words_;
    std::set<std::uint32_t> taken_;
};

}  // namespace kv
