#include "cli/Versions.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>

namespace kv::cli {

namespace {

constexpr std::size_t kSha256HexDigits = 64;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Where the version proper begins: after the last character that is neither a letter, a
// digit nor a dot ("FW:1.4.0" -> 3, "3.1.2" -> 0).
std::size_t versionStart(const std::string& text) {
    for (std::size_t i = text.size(); i > 0; --i) {
        const auto c = static_cast<unsigned char>(text[i - 1]);
        if (!std::isalnum(c) && c != '.') return i;
    }
    return 0;
}

}  // namespace

std::string VersionInFileName(const std::string& path) {
    // Runs of hex digits joined by dots, not glued to a letter or digit on either side
    // (a leading "v" is allowed: "fw-v1.2.0").
    static const std::regex kGroup(
        R"((?:^|[^0-9A-Za-z])[vV]?([0-9A-Fa-f]+(?:\.[0-9A-Fa-f]+)+)(?=$|[^0-9A-Za-z.]))");
    const std::filesystem::path name = std::filesystem::path(path).filename();
    // "fw-1.2.3" has no extension: a last part of digits belongs to the version.
    const std::string extension = name.extension().string();
    const bool numeric = std::all_of(extension.begin(), extension.end(),
                                     [](unsigned char c) { return c == '.' || std::isdigit(c); });
    const std::string stem = numeric ? name.string() : name.stem().string();
    std::string found;
    for (auto it = std::sregex_iterator(stem.begin(), stem.end(), kGroup);
         it != std::sregex_iterator(); ++it) {
        const std::string group = (*it)[1].str();
        // Hex letters alone ("cafe.beef") are words, not a version.
        if (std::any_of(group.begin(), group.end(),
                        [](unsigned char c) { return std::isdigit(c); }))
            found = group;
    }
    return found;
}

std::string InDeviceForm(const std::string& version, const std::string& deviceVersion) {
    if (versionStart(version) > 0) return version;
    return deviceVersion.substr(0, versionStart(deviceVersion)) + version;
}

bool SameVersion(const std::string& version, const std::string& deviceVersion) {
    if (version.empty() || deviceVersion.empty()) return false;
    return lower(InDeviceForm(version, deviceVersion)) == lower(deviceVersion);
}

std::string AlreadyAtReason(const std::string& deviceVersion) {
    return "already at " + deviceVersion;
}

std::string ReadBackMismatchReason(const std::string& readBack, const std::string& expected) {
    return "the device reports " + (readBack.empty() ? std::string("no version") : readBack) +
           " after the upgrade, expected " + expected;
}

bool IsSha256Hex(const std::string& text) {
    return text.size() == kSha256HexDigits &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

bool SameSha256(const std::string& actual, const std::string& pinned) {
    return !actual.empty() && lower(actual) == lower(pinned);
}

std::string PinMismatchText(const std::string& actual, const std::string& pinned) {
    return "SHA-256 " + (actual.empty() ? std::string("unknown (unread)") : lower(actual)) +
           ", not the pinned " + lower(pinned);
}

}  // namespace kv::cli
