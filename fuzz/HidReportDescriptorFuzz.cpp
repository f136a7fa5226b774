// The report-descriptor reader on any descriptor a device may present: it finishes, its
// answer stays between the report ID byte plus one and 65536, and it equals the longest
// output report counted without any wrap-around.
#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "FuzzCheck.h"
#include "platform/HidapiReportDescriptor.h"

namespace {

__extension__ typedef unsigned __int128 Wide;

// The output report length counted in 128 bits (no sum of 32-bit sizes and counts can
// reach that), clamped as the reader documents.
int expectedLength(const std::uint8_t* d, std::size_t n) {
    struct Globals {
        std::uint32_t size = 0, count = 0, id = 0;
    } globals;
    std::vector<Globals> stack;
    std::map<std::uint32_t, Wide> bits;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t prefix = d[i];
        if (prefix == 0xFE) {  // long item: size byte, tag byte, data
            if (i + 1 >= n) break;
            i += 3 + d[i + 1];
            continue;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + size > n) break;
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < size; ++b) value |= std::uint32_t(d[i + 1 + b]) << (8 * b);
        i += 1 + size;
        const int type = (prefix >> 2) & 3, tag = prefix >> 4;
        if (type == 0 && tag == 0x9) bits[globals.id] += Wide(globals.size) * globals.count;
        if (type != 1) continue;
        if (tag == 0x7) globals.size = value;
        if (tag == 0x9) globals.count = value;
        if (tag == 0x8) globals.id = value;
        if (tag == 0xA) stack.push_back(globals);
        if (tag == 0xB && !stack.empty()) {
            globals = stack.back();
            stack.pop_back();
        }
    }
    Wide longest = 0;
    for (const auto& [id, b] : bits) longest = std::max(longest, (b + 7) / 8);
    if (longest == 0) return 0;
    return static_cast<int>(std::min<Wide>(longest + 1, 1 << 16));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int length = kv::HidapiOutputReportLength(kv::ByteView(data, size));
    FUZZ_CHECK(length == 0 || (length >= 2 && length <= 1 << 16));
    FUZZ_CHECK(length == expectedLength(data, size));
    return 0;
}
