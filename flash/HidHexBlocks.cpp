#include "flash/HidHexBlocks.h"

#include "ports/ChannelError.h"

namespace kv {

namespace {

constexpr std::size_t kDataLineLength = 43;  // ":" 10 aaaa 00, 16 data bytes, checksum
constexpr int kDataRecord = 0x00;
constexpr int kEndRecord = 0x01;
constexpr char kDescriptorLine[] = ":101830";
constexpr int kDescriptorLines = 4;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Byte at 0-based character position `pos`, or -1 when missing or not hexadecimal.
int hexByte(std::string_view line, std::size_t pos) {
    if (pos + 1 >= line.size()) return -1;
    int hi = hexDigit(line[pos]);
    int lo = hexDigit(line[pos + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

std::string_view trimmed(std::string_view line) {
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.remove_suffix(1);
    return line;
}

[[noreturn]] void fileError(const std::string& what) {
    throw KvError("Invalid firmware file: " + what);
}

// The record's bytes (count, address, type, data, checksum), or none when the line is not
// a well-formed record.
std::optional<std::vector<std::uint8_t>> recordBytes(std::string_view line) {
    if (line.size() < 11 || line[0] != ':' || line.size() % 2 != 1) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t pos = 1; pos < line.size(); pos += 2) {
        int b = hexByte(line, pos);
        if (b < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(b));
    }
    return bytes;
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
    for (std::size_t n = 0; n < needed; ++n, ++i) {
        const std::string lineNumber = std::to_string(i + 1);
        if (i >= lines.size()) {
            fileError("it ends after " + std::to_string(n) + " of " + std::to_string(needed) +
                      " data lines");
        }
        std::string_view line = trimmed(lines[i]);
        auto record = recordBytes(line);
        if (record && record->size() >= 4 && (*record)[3] == kEndRecord) {
            fileError("it ends after " + std::to_string(n) + " of " + std::to_string(needed) +
                      " data lines");
        }
        if (!record || line.size() != kDataLineLength || (*record)[0] != 16 ||
            (*record)[3] != kDataRecord) {
            fileError("line " + lineNumber + " is not a 16-byte data record");
        }
        std::uint8_t sum = 0;
        for (std::uint8_t b : *record) sum = static_cast<std::uint8_t>(sum + b);
        if (sum != 0) fileError("line " + lineNumber + " has a wrong checksum");

        HidBlock& block = blocks[n / 2];
        if (n % 2 == 0) {
            block.addressHigh = (*record)[1];
            block.addressLow = (*record)[2];
        }
        for (std::size_t d = 0; d < 16; ++d) block.data[(n % 2) * 16 + d] = (*record)[4 + d];
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
            int b = hexByte(lines[i], 9 + 2 * d);
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
