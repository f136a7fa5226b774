#pragma once

#include <cstdint>
#include <istream>

namespace kv {

// Data bytes the sound data records of a HEX file carry: what its programming pass sends,
// the measure of progress in bytes and of time estimates. Bad lines count nothing.
std::uint64_t HexDataBytes(std::istream& in);

}  // namespace kv
