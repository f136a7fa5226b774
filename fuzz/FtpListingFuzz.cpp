// The FTP listing parser on arbitrary LIST output from the device's server.
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "flash/WebPackageFtpListing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    const auto entries = kv::ParseFtpListing(lines);
    FUZZ_CHECK(entries.size() <= lines.size());
    for (const auto& entry : entries) {
        // Clearing walks into these names: they must stay inside their folder.
        FUZZ_CHECK(kv::IsPlainFtpName(entry.name));
        FUZZ_CHECK(entry.name.find('/') == std::string::npos);
        FUZZ_CHECK(entry.name != "." && entry.name != "..");
        FUZZ_CHECK(text.find(entry.name) != std::string::npos);
    }
    return 0;
}
