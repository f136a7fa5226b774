// The STM32 block builder on any HEX file, walked as the programmer walks it: one
// takeBlocksCovering per data record. Every block must be a write the bootloader
// accepts, no word may go out twice, and the blocks must carry exactly the file's data
// (0xFF where the file holds none).
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "core/ports/ChannelError.h"
#include "flash/StmFrames.h"
#include "flash/StmImage.h"

namespace {

struct Record {
    int type = 0;
    std::uint16_t address = 0;
    std::vector<std::uint8_t> data;
};

std::string render(const Record& r) {
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(r.data.size()),
                  static_cast<unsigned>(r.address), static_cast<unsigned>(r.type));
    std::string line = field;
    unsigned sum = static_cast<unsigned>(r.data.size() + (r.address >> 8) + (r.address & 0xFF) +
                                         static_cast<unsigned>(r.type));
    for (std::uint8_t b : r.data) {
        std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(b));
        line += field;
        sum += b;
    }
    std::snprintf(field, sizeof field, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + field + "\r\n";
}

// Records from the input: selector, address (2 bytes), count, data.
std::vector<Record> records(const std::uint8_t* data, std::size_t size) {
    static constexpr int kTypes[8] = {0, 0, 0, 0, 4, 1, 2, 5};
    std::vector<Record> out;
    std::size_t i = 0;
    while (i + 4 <= size) {
        Record r;
        r.type = kTypes[data[i] % 8];
        r.address = static_cast<std::uint16_t>(data[i + 1] << 8 | data[i + 2]);
        std::size_t count = std::min<std::size_t>(data[i + 3], size - i - 4);
        if (r.type == 4) count = std::min<std::size_t>(count, 2);
        if (r.type == 1) count = 0;
        r.data.assign(data + i + 4, data + i + 4 + count);
        if (r.type == 4) r.data.resize(2, 0);
        i += 4 + count;
        out.push_back(std::move(r));
    }
    return out;
}

struct Taken {
    std::set<std::uint32_t> words;
    std::map<std::uint32_t, std::uint8_t> bytes;
};

// The rules of a single write request, and no word in two of them.
void checkBlocks(const std::vector<kv::StmBlock>& blocks, Taken& taken) {
    for (const auto& block : blocks) {
        FUZZ_CHECK(block.address % 4 == 0);
        FUZZ_CHECK(!block.data.empty() && block.data.size() % 4 == 0);
        FUZZ_CHECK(block.data.size() <= kv::kStmMaxBlock);
        const std::uint32_t last =
            block.address + static_cast<std::uint32_t>(block.data.size() - 1);
        FUZZ_CHECK(last >= block.address && (last >> 16) == (block.address >> 16));
        for (std::size_t k = 0; k < block.data.size(); ++k) {
            const auto address = block.address + static_cast<std::uint32_t>(k);
            if (k % 4 == 0) FUZZ_CHECK(taken.words.insert(address).second);
            taken.bytes[address] = block.data[k];
        }
    }
}

// Any text at all: a malformed line is refused with the reader's error, and what the
// image yields still follows the rules.
void rawText(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        kv::StmImage image = kv::StmImage::read(in);
        Taken taken;
        const std::uint32_t start = size >= 4 ? std::uint32_t(data[0]) << 24 |
                                                    std::uint32_t(data[1]) << 16 |
                                                    std::uint32_t(data[2]) << 8 | data[3]
                                              : 0;
        checkBlocks(image.takeBlocksCovering(start, 4096), taken);
        FUZZ_CHECK(taken.words.size() <= image.wordCount());
    } catch (const kv::KvError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0 && data[0] == 0xFF) {
        rawText(data + 1, size - 1);
        return 0;
    }
    const std::vector<Record> file = records(data, size);
    std::string text;
    for (const auto& r : file) text += render(r);

    // What the file says, last write winning, up to its end record.
    std::map<std::uint32_t, std::uint8_t> expected;
    std::vector<std::pair<std::uint32_t, std::size_t>> dataRecords;
    std::uint32_t upper = 0;
    for (const auto& r : file) {
        if (r.type == 1) break;
        if (r.type == 4) upper = std::uint32_t(r.data[0] << 8 | r.data[1]) << 16;
        if (r.type != 0) continue;
        const std::uint32_t base = upper | r.address;
        for (std::size_t k = 0; k < r.data.size(); ++k)
            expected[base + std::uint32_t(k)] = r.data[k];
        dataRecords.emplace_back(base, r.data.size());
    }

    std::istringstream in(text);
    kv::StmImage image = kv::StmImage::read(in);
    std::set<std::uint32_t> words;
    for (const auto& [address, byte] : expected) words.insert(address & ~3u);
    FUZZ_CHECK(image.wordCount() == words.size());

    Taken taken;
    for (const auto& [address, count] : dataRecords) {
        checkBlocks(image.takeBlocksCovering(address, count), taken);
    }
    // Every word of the file went out once, with the file's bytes and 0xFF around them.
    FUZZ_CHECK(taken.words == words);
    for (const auto& [address, byte] : taken.bytes) {
        const auto it = expected.find(address);
        FUZZ_CHECK(byte == (it == expected.end() ? 0xFF : it->second));
    }
    // Taking again gives nothing: nothing is written twice.
    for (const auto& [address, count] : dataRecords) {
        FUZZ_CHECK(image.takeBlocksCovering(address, count).empty());
    }
    return 0;
}
