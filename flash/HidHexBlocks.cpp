#include "flash/HidHexBlocks.h"

#include <algorithm>

#include "core/ports/ChannelError.h"
#include "firmware/HexRecord.h"

namespace kv {

namespace {

constexpr int kDataLineBytes = 16;
constexpr char kDescriptorLine[] = ":101830";
constexpr int kDescriptorLines = 4;

std::string_view trimmed(std::string_view line) {
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.remove_suffix(1);
    return line;
}

[[noreturn]] void fileError(const std::string& what) {
    throw KvError("Invalid firmware file: " + what);
}

}  // namespace

int HidBlockCount(int startAddress, int endAddress) {
    return endAddress <= startAddress ? 0 : (endAddress - startAddress + 31) / 32;
}

std::vector<HidBlock> HidBlocksFromHex(const std::vector<std::string>& lines,
                                       std::string_view startLine, int blockCount) {
    std::size_t i = 0;
    while (i < lines.size() && lines[i].compare(0, startLine.size(), startLine) != 0) ++i;
    if (i == lines.size()) fileError("no line starts with " + std::string(startLine));
    ++i;

    const std::size_t needed = static_cast<std::size_t>(blockCount) * 2;
    std::vector<HidBlock> blocks(static_cast<std::size_t>(blockCount));
    HexRecord record;
    for (std::size_t n = 0; n < needed; ++n, ++i) {
        const std::string lineNumber = std::to_string(i + 1);
        if (i >= lines.size()) {
            fileError("it ends after " + std::to_string(n) + " of " + std::to_string(needed) +
                      " data lines");
        }
        std::string_view line = trimmed(lines[i]);
        if (!DecodeHexRecord(line, record)) {
            std::string fault = HexLineFault(line);
            fileError("line " + lineNumber + ": " + (fault.empty() ? "Illegal record" : fault));
        }
        if (record.type == kHexEndOfFile) {
            fileError("it ends after " + std::to_string(n) + " of " + std::to_string(needed) +
                      " data lines");
        }
        if (record.count != kDataLineBytes || record.type != kHexData) {
            fileError("line " + lineNumber + " is not a 16-byte data record");
        }

        HidBlock& block = blocks[n / 2];
        if (n % 2 == 0) {
            block.addressHigh = static_cast<std::uint8_t>(record.address >> 8);
            block.addressLow = static_cast<std::uint8_t>(record.address & 0xFF);
        }
        std::copy(record.data.begin(), record.data.end(), block.data.begin() + (n % 2) * 16);
    }
    return blocks;
}

std::array<std::uint8_t, 64> HidDescriptorBytes(const std::vector<std::string>& lines) {
    std::array<std::uint8_t, 64> bytes{};
    std::size_t i = 0;
    while (i < lines.size() && lines[i].compare(0, 7, kDescriptorLine) != 0) ++i;
    if (i < lines.size()) ++i;
    for (int n = 0; n < kDescriptorLines && i < lines.size(); ++n, ++i) {
        for (std::size_t d = 0; d < 16; ++d) {
            const int first = 9 + 2 * static_cast<int>(d);
            int b = HexFieldValue(lines[i], first, first + 2);
            bytes[static_cast<std::size_t>(n) * 16 + d] = static_cast<std::uint8_t>(b < 0 ? 0 : b);
        }
    }
    return bytes;
}

std::optional<std::string> HidDescriptorName(const std::array<std::uint8_t, 64>& bytes) {
    if (bytes[0] == 0xFF) return std::nullopt;
    std::string name;
    for (std::size_t pos = 2; pos < bytes.size() && name.size() < 31; pos += 2) {
        if (bytes[pos] == 0) break;
        name.push_back(static_cast<char>(bytes[pos]));
    }
    return name;
}

}  // namespace kv
