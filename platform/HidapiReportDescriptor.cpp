#include "HidapiReportDescriptor.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace kv {

namespace {

// Short item prefix: bSize in bits 0-1 (3 means 4 bytes), bType in bits 2-3, bTag above.
constexpr int kTypeMain = 0;
constexpr int kTypeGlobal = 1;
constexpr int kTagOutput = 0x9;
constexpr int kTagReportSize = 0x7;
constexpr int kTagReportId = 0x8;
constexpr int kTagReportCount = 0x9;
constexpr int kTagPush = 0xA;
constexpr int kTagPop = 0xB;
constexpr std::uint8_t kLongItem = 0xFE;
// Output bits of one report beyond which the length is clamped anyway; counting stops
// there, so huge sizes and counts from a hostile descriptor cannot wrap the sum around.
constexpr std::uint64_t kBitsCeiling = std::uint64_t(1) << 32;

struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

}  // namespace

int HidapiOutputReportLength(ByteView d) {
    Globals globals;
    std::vector<Globals> stack;
    std::map<std::uint32_t, std::uint64_t> outputBits;
    std::size_t i = 0;
    while (i < d.size()) {
        const std::uint8_t prefix = d[i];
        if (prefix == kLongItem) {
            if (i + 1 >= d.size()) break;
            i += 3 + d[i + 1];
            continue;
        }
        std::size_t size = prefix & 0x3;
        if (size == 3) size = 4;
        if (i + 1 + size > d.size()) break;
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < size; ++b)
            value |= static_cast<std::uint32_t>(d[i + 1 + b]) << (8 * b);
        i += 1 + size;

        const int type = (prefix >> 2) & 0x3;
        const int tag = prefix >> 4;
        if (type == kTypeMain && tag == kTagOutput) {
            std::uint64_t& bits = outputBits[globals.reportId];
            bits = std::min(kBitsCeiling, bits + static_cast<std::uint64_t>(globals.reportSize) *
                                                     globals.reportCount);
        } else if (type == kTypeGlobal) {
            switch (tag) {
                case kTagReportSize:
                    globals.reportSize = value;
                    break;
                case kTagReportCount:
                    globals.reportCount = value;
                    break;
                case kTagReportId:
                    globals.reportId = value;
                    break;
                case kTagPush:
                    stack.push_back(globals);
                    break;
                case kTagPop:
                    if (!stack.empty()) {
                        globals = stack.back();
                        stack.pop_back();
                    }
                    break;
                default:
                    break;
            }
        }
    }
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : outputBits) longest = std::max(longest, (bits + 7) / 8);
    if (longest == 0) return 0;
    return static_cast<int>(std::min<std::uint64_t>(longest + 1, 1 << 16));
}

}  // namespace kv
