#include "flash/WebPackageFtpListing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace kv {

namespace {

struct Token {
    std::size_t begin;
    std::size_t end;
};

std::vector<Token> tokenize(const std::string& line) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        const std::size_t begin = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        tokens.push_back({begin, i});
    }
    return tokens;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool isMonth(std::string_view text) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3) return false;
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::find(kMonths.begin(), kMonths.end(), lower) != kMonths.end();
}

// "12:00" or "2024".
bool isTimeOrYear(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return text.size() == 4 && allDigits(text);
    return allDigits(text.substr(0, colon)) && allDigits(text.substr(colon + 1));
}

bool isDosDate(std::string_view text) {
    return text.size() >= 8 && std::isdigit(static_cast<unsigned char>(text[0])) &&
           (text[2] == '-' || text[2] == '/');
}

std::string trimmedEnd(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

std::optional<FtpListEntry> parseDos(const std::string& line, const std::vector<Token>& tokens) {
    if (tokens.size() < 4) return std::nullopt;
    const std::string sizeOrDir = line.substr(tokens[2].begin, tokens[2].end - tokens[2].begin);
    return FtpListEntry{line.substr(tokens[3].begin), sizeOrDir == "<DIR>"};
}

std::optional<FtpListEntry> parseUnix(const std::string& line, const std::vector<Token>& tokens) {
    auto text = [&](std::size_t i) {
        return std::string_view(line).substr(tokens[i].begin, tokens[i].end - tokens[i].begin);
    };
    // The owner or group may be missing, so the name is found after the date.
    std::size_t nameStart = std::string::npos;
    for (std::size_t i = 3; i + 2 < tokens.size(); ++i) {
        if (isMonth(text(i)) && allDigits(text(i + 1)) && isTimeOrYear(text(i + 2))) {
            nameStart = tokens[i + 2].end + 1;
            break;
        }
    }
    if (nameStart == std::string::npos) {
        if (tokens.size() < 9) return std::nullopt;
        nameStart = tokens[8].begin;
    }
    if (nameStart >= line.size()) return std::nullopt;
    std::string name = line.substr(nameStart);
    const char kind = line[tokens[0].begin];
    if (kind == 'l') {
        const auto arrow = name.find(" -> ");
        if (arrow != std::string::npos) name.erase(arrow);
    }
    return FtpListEntry{name, kind == 'd'};
}

}  // namespace

bool IsPlainFtpName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::optional<FtpListEntry> ParseFtpListLine(const std::string& rawLine) {
    const std::string line = trimmedEnd(rawLine);
    const auto tokens = tokenize(line);
    if (tokens.empty()) return std::nullopt;
    const std::string first = line.substr(tokens[0].begin, tokens[0].end - tokens[0].begin);
    if (first == "total" && tokens.size() == 2) return std::nullopt;
    auto entry = isDosDate(first) ? parseDos(line, tokens) : parseUnix(line, tokens);
    if (!entry || !IsPlainFtpName(entry->name)) return std::nullopt;
    return entry;
}

std::vector<FtpListEntry> ParseFtpListing(const std::vector<std::string>& lines) {
    std::vector<FtpListEntry> entries;
    for (const auto& line : lines) {
        if (auto entry = ParseFtpListLine(line)) entries.push_back(*entry);
    }
    return entries;
}

}  // namespace kv
