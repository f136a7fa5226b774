#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/ports/Bytes.h"

namespace kv::sim {

// The bytes a HEX text puts at each full address (data records, with type 4 upper
// addresses). Lines that are not records are skipped; a later record wins. This is the
// models' own independent reading of a file, to compare programmed memory with.
std::map<std::uint32_t, std::uint8_t> HexTextBytes(const std::string& text);

// One Intel HEX record line without its line end: ':', the byte count, the address, the
// type, the data and the checksum, in upper-case hexadecimal. The one writer of HEX text
// for the sample firmware files, the tests, the fuzz targets and the benchmarks; a
// record holds at most 255 data bytes, more is refused (std::length_error).
std::string HexRecordLine(std::uint8_t type, std::uint16_t address, ByteView data);

}  // namespace kv::sim
