#include "firmware/HexDataBytes.h"

#include <string>

#include "firmware/HexRecord.h"

namespace kv {

std::uint64_t HexDataBytes(std::istream& in) {
    std::uint64_t bytes = 0;
    std::string line;
    HexRecord record;
    while (ReadHexLine(in, line)) {
        if (DecodeHexRecord(line, record) && record.type == kHexData) bytes += record.data.size();
    }
    return bytes;
}

}  // namespace kv
