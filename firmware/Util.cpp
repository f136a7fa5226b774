#include "firmware/Util.h"

namespace kv {

namespace {

constexpr char kQuote = '"';

bool isBlank(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x01 && u <= 0x20;
}

}  // namespace

void SplitDelimited(char delimiter, const std::string& text, std::vector<std::string>& list) {
    list.clear();
    // Everything after a zero character is ignored, as the replies are C strings on the
    // device side.
    const std::size_t end = text.find('\0') == std::string::npos ? text.size() : text.find('\0');
    std::size_t p = 0;
    auto skipBlanks = [&] {
        while (p < end && isBlank(text[p])) ++p;
    };

    skipBlanks();
    while (p < end) {
        std::string item;
        if (text[p] == kQuote) {
            ++p;
            while (p < end) {
                if (text[p] == kQuote) {
                    if (p + 1 < end && text[p + 1] == kQuote) {
                        item += kQuote;
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        } else {
            std::size_t start = p;
            while (p < end && !isBlank(text[p]) && text[p] != delimiter) ++p;
            item.assign(text, start, p - start);
        }
        list.push_back(std::move(item));
        skipBlanks();
        if (p < end && text[p] == delimiter) {
            if (p + 1 == end) list.emplace_back();
            ++p;
            skipBlanks();
        }
    }
}

std::vector<std::string> SplitDelimited(char delimiter, const std::string& text) {
    std::vector<std::string> list;
    SplitDelimited(delimiter, text, list);
    return list;
}

}  // namespace kv
