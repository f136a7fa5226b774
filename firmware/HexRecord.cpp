#include "firmware/HexRecord.h"

#include "core/ports/ChannelError.h"

namespace kv {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Delphi-style Copy: 1-based start, clipped to the text.
std::string_view copy(std::string_view text, std::size_t start, std::size_t count) {
    if (start < 1 || start > text.size()) return {};
    return text.substr(start - 1, count);
}

}  // namespace

int HexToInt(std::string_view text) {
    // Unsigned arithmetic: long texts wrap instead of overflowing.
    std::uint32_t value = 0;
    for (char c : text) {
        int digit = hexDigit(c);
        if (digit < 0) throw KvError("No Hex-Number");
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return static_cast<int>(value);
}

int HexFieldValue(std::string_view line, int first, int last) {
    if (first < 0 || last <= first || static_cast<std::size_t>(last) > line.size()) {
        return kNoHexValue;
    }
    int value = 0;
    for (int pos = first; pos < last; ++pos) {
        int digit = hexDigit(line[static_cast<std::size_t>(pos)]);
        if (digit < 0 || value > 0x7FFFFFF) return kNoHexValue;
        value = value * 16 + digit;
    }
    return value;
}

bool DecodeHexRecord(std::string_view line, HexRecord& record) {
    if (line.empty() || line[0] != ':') return false;
    int count = HexFieldValue(line, 1, 3);
    if (count < 0 || line.size() != static_cast<std::size_t>(2 * count + 11)) return false;
    int address = HexFieldValue(line, 3, 7);
    int type = HexFieldValue(line, 7, 9);
    if (address < 0 || type < 0) return false;
    record.count = count;
    record.address = static_cast<std::uint16_t>(address);
    record.type = type;
    record.data.resize(static_cast<std::size_t>(count));
    unsigned sum = static_cast<unsigned>(count) + static_cast<unsigned>(address >> 8) +
                   static_cast<unsigned>(address & 0xFF) + static_cast<unsigned>(type);
    for (int i = 0; i < count; ++i) {
        int byte = HexFieldValue(line, 9 + 2 * i, 11 + 2 * i);
        if (byte < 0) return false;
        record.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(byte);
        sum += static_cast<unsigned>(byte);
    }
    int checksum = HexFieldValue(line, 9 + 2 * count, 11 + 2 * count);
    if (checksum < 0) return false;
    return ((0x100 - (sum & 0xFF)) & 0xFF) == static_cast<unsigned>(checksum);
}

std::string HexLineFault(std::string_view line) {
    try {
        if (line.empty() || line[0] != ':') return "Illegal record";
        int count = HexToInt(copy(line, 2, 2));
        if (line.size() != static_cast<std::size_t>(2 * count + 11)) {
            return "Illegal record length";
        }
        unsigned sum = 0;
        for (int i = 0; i < count + 5; ++i) {
            sum +=
                static_cast<unsigned>(HexToInt(copy(line, 2 + 2 * static_cast<std::size_t>(i), 2)));
        }
        if ((sum & 0xFF) != 0) return "Checksum error";
        if (HexToInt(copy(line, 8, 2)) > kHexStartLinearAddress) {
            return "Unknown record type " + std::string(copy(line, 8, 2));
        }
    } catch (const KvError& e) {
        return e.what();
    }
    return {};
}

bool ReadHexLine(std::istream& in, std::string& line) {
    line.clear();
    std::istream::sentry guard(in, true);
    if (!guard) return false;
    std::streambuf* buffer = in.rdbuf();
    bool any = false;
    for (;;) {
        int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            return any;
        }
        any = true;
        if (c == '\n') return true;
        if (c == '\r') {
            if (buffer->sgetc() == '\n') buffer->sbumpc();
            return true;
        }
        if (line.size() <= kMaxHexLineLength) line.push_back(static_cast<char>(c));
    }
}

}  // namespace kv
