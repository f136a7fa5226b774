#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

#include "core/ports/Bytes.h"

namespace kv {

// Intel HEX record types.
enum HexRecordType : int {
    kHexData = 0,
    kHexEndOfFile = 1,
    kHexExtendedSegmentAddress = 2,
    kHexStartSegmentAddress = 3,
    kHexExtendedLinearAddress = 4,
    kHexStartLinearAddress = 5,
};

// What HexFieldValue yields for a field that is not entirely hexadecimal digits or that
// runs past the end of the line.
inline constexpr int kNoHexValue = -1;

// Longest line kept: a record holds at most 255 data bytes (2 * 255 + 11 characters), so a
// longer line can never be a record and its tail is not kept.
inline constexpr std::size_t kMaxHexLineLength = 1024;

// Value of hexadecimal text (either case); an empty text is 0. Throws KvError("No Hex-Number")
// on any other character.
int HexToInt(std::string_view text);

// Value of the hexadecimal digits at the 1-based character positions first + 1 to last of a
// record line: (1, 3) is the byte count, (3, 7) the address, (7, 9) the type. Never throws:
// kNoHexValue when a character there is missing or is not a hexadecimal digit.
int HexFieldValue(std::string_view line, int first, int last);

// One decoded record line.
struct HexRecord {
    int count = 0;
    std::uint16_t address = 0;
    int type = 0;
    Bytes data;
};

// Decodes a record line for the reader. False when the line is not a trustworthy record: no
// ":" in front, a character that is not hexadecimal, a length other than 2n + 11, or a
// checksum that does not make the record sum to 0. `record` is reused to avoid allocations.
bool DecodeHexRecord(std::string_view line, HexRecord& record);

// The integrity check of one line, its four tests in order: empty when the line passes, else
// "Illegal record", "Illegal record length", "Checksum error", "Unknown record type XX" or
// "No Hex-Number".
std::string HexLineFault(std::string_view line);

// Reads the next physical line (ended by LF, CR LF or a lone CR) without its line end; keeps
// at most kMaxHexLineLength + 1 characters of it. False at the end of the input.
bool ReadHexLine(std::istream& in, std::string& line);

}  // namespace kv
