// The STM32 block builder on any HEX file, walked as the programmer walks it: one
// takeBlocksCovering per data record. Every block must be a write the bootloader
// accepts, no word may go out twice, and the blocks must carry exactly the file's data
// (0xFF where the file holds none).
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "HexBytes.h"
#include "core/ports/ChannelError.h"
#include "flash/StmFrames.h"
#include "flash/StmImage.h"

namespace {

struct Record {
    std::uint8_t type = 0;
    std::uint16_t address = 0;
    std::vector<std::uint8_t> data;
};

// Records from the input: selector, address (2 bytes), count, data.
std::vector<Record> records(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint8_t kTypes[8] = {0, 0, 0, 0, 4, 1, 2, 5};
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

// Flat lists rather than maps: this check runs on every input and must not cost more
// than the builder it checks. Sorted and compared once all blocks are taken.
struct Taken {
    std::vector<std::uint32_t> words;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;

    // True when no word went out twice; leaves both lists sorted.
    bool sortAndCheckUnique() {
        std::sort(words.begin(), words.end());
        std::sort(bytes.begin(), bytes.end());
        return std::adjacent_find(words.begin(), words.end()) == words.end();
    }
};

// The rules of a single write request.
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
            if (k % 4 == 0) taken.words.push_back(address);
            taken.bytes.emplace_back(address, block.data[k]);
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
        FUZZ_CHECK(taken.sortAndCheckUnique());
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
    for (const auto& r : file) text += kv::sim::HexRecordLine(r.type, r.address, r.data) + "\r\n";

    // What the file says, last write winning, up to its end record: the bytes in file
    // order, then sorted by address with the last write of each address kept.
    std::vector<std::pair<std::uint32_t, std::uint8_t>> expected;
    std::vector<std::pair<std::uint32_t, std::size_t>> dataRecords;
    std::uint32_t upper = 0;
    for (const auto& r : file) {
        if (r.type == 1) break;
        if (r.type == 4) upper = std::uint32_t(r.data[0] << 8 | r.data[1]) << 16;
        if (r.type != 0) continue;
        const std::uint32_t base = upper | r.address;
        for (std::size_t k = 0; k < r.data.size(); ++k)
            expected.emplace_back(base + std::uint32_t(k), r.data[k]);
        dataRecords.emplace_back(base, r.data.size());
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<std::uint32_t, std::uint8_t>> lastWrites;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        if (k + 1 < expected.size() && expected[k + 1].first == expected[k].first) continue;
        lastWrites.push_back(expected[k]);
    }

    std::istringstream in(text);
    kv::StmImage image = kv::StmImage::read(in);
    std::vector<std::uint32_t> words;
    for (const auto& [address, byte] : lastWrites) {
        if (words.empty() || words.back() != (address & ~3u)) words.push_back(address & ~3u);
    }
    FUZZ_CHECK(image.wordCount() == words.size());

    Taken taken;
    for (const auto& [address, count] : dataRecords) {
        checkBlocks(image.takeBlocksCovering(address, count), taken);
    }
    // Every word of the file went out once, with the file's bytes and 0xFF around them.
    FUZZ_CHECK(taken.sortAndCheckUnique());
    FUZZ_CHECK(taken.words == words);
    auto want = lastWrites.begin();
    for (const auto& [address, byte] : taken.bytes) {
        while (want != lastWrites.end() && want->first < address) ++want;
        const bool inFile = want != lastWrites.end() && want->first == address;
        FUZZ_CHECK(byte == (inFile ? want->second : 0xFF));
    }
    // Taking again gives nothing: nothing is written twice.
    for (const auto& [address, count] : dataRecords) {
        FUZZ_CHECK(image.takeBlocksCovering(address, count).empty());
    }
    return 0;
}
