#include "FirmwareVersionTag.h"

#include <cctype>
#include <cstring>

namespace kv::sim {

Bytes VersionTag(const std::string& version) {
    const std::string text = kVersionTagPrefix + version;
    Bytes tag(text.begin(), text.end());
    tag.push_back(0x00);
    return tag;
}

std::optional<std::string> VersionTagAt(ByteView memory, std::size_t offset) {
    const std::size_t prefix = std::strlen(kVersionTagPrefix);
    if (offset > memory.size() || memory.size() - offset < prefix) return std::nullopt;
    if (std::memcmp(memory.data() + offset, kVersionTagPrefix, prefix) != 0) return std::nullopt;
    std::string version;
    for (std::size_t at = offset + prefix; at < memory.size(); ++at) {
        const auto c = static_cast<unsigned char>(memory[at]);
        if (c == 0x00) return version.empty() ? std::nullopt : std::optional(version);
        if (!std::isprint(c) || version.size() == kMaxVersionText) return std::nullopt;
        version += static_cast<char>(c);
    }
    return std::nullopt;  // no end before the memory's end
}

std::string NextVersion(const std::string& version) {
    std::size_t end = version.size();
    while (end > 0 && !std::isdigit(static_cast<unsigned char>(version[end - 1]))) --end;
    std::size_t begin = end;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(version[begin - 1]))) --begin;
    if (begin == end) return version + ".1";
    const unsigned long next = std::stoul(version.substr(begin, end - begin)) + 1;
    return version.substr(0, begin) + std::to_string(next) + version.substr(end);
}

}  // namespace kv::sim
