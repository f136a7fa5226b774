#include "flash/StmImage.h"

#include "core/ports/ChannelError.h"
#include "flash/StmFrames.h"

namespace kv {

namespace {
constexpr std::uint32_t kWordMask = ~std::uint32_t(StmImage::kWord - 1);
constexpr std::uint32_t kSegmentMask = 0xFFFF0000;
}  // namespace

StmImage StmImage::read(std::istream& in) {
    StmImage image;
    StmHexSource source(in);
    std::uint32_t upper = 0;
    while (source.advance()) {
        const int type = source.recordType();
        if (type == 4) {
            // Any other length would take the upper address from the checksum or beyond;
            // refused here, before the programmer erases anything.
            if (source.byteCount() != 2) throw KvError("Illegal record length");
            upper = std::uint32_t(source.upperAddress()) << 16;
        } else if (type == 0) {
            const Bytes data = source.recordData();
            const std::uint32_t base = upper | source.recordAddress();
            for (std::size_t i = 0; i < data.size(); ++i) {
                const std::uint32_t address = base + static_cast<std::uint32_t>(i);
                auto [it, added] = image.words_.try_emplace(address & kWordMask);
                if (added) it->second.fill(0xFF);
                it->second[address & (kWord - 1)] = data[i];
            }
        } else if (type == 1) {
            break;
        }
    }
    return image;
}

StmBlock StmImage::takeBlockAt(std::uint32_t word) {
    StmBlock block;
    block.address = word;
    for (auto it = words_.find(word); it != words_.end(); ++it) {
        const std::uint32_t next = block.address + static_cast<std::uint32_t>(block.data.size());
        if (it->first != next || taken_.count(it->first) ||
            (it->first & kSegmentMask) != (word & kSegmentMask) ||
            block.data.size() + kWord > kStmMaxBlock) {
            break;
        }
        block.data.insert(block.data.end(), it->second.begin(), it->second.end());
        taken_.insert(it->first);
    }
    return block;
}

std::vector<StmBlock> StmImage::takeBlocksCovering(std::uint32_t address, std::size_t count) {
    std::vector<StmBlock> blocks;
    if (count == 0) return blocks;
    const std::uint64_t end = std::uint64_t(address) + count;
    for (std::uint64_t word = address & kWordMask; word < end; word += kWord) {
        const auto w = static_cast<std::uint32_t>(word);
        if (taken_.count(w) || !words_.count(w)) continue;
        blocks.push_back(takeBlockAt(w));
    }
    return blocks;
}

}  // namespace kv
