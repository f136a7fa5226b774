#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace kv::sim {

// The bytes a HEX text puts at each full address (data records, with type 4 upper
// addresses). Lines that are not records are skipped; a later record wins. This is the
// models' own independent reading of a file, to compare programmed memory with.
std::map<std::uint32_t, std::uint8_t> HexTextBytes(const std::string& text);

}  // namespace kv::sim
