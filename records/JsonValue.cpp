#include "records/JsonValue.h"

#include <charconv>
#include <cmath>

namespace kv {

namespace {

const JsonValue::Array kNoItems;
const JsonValue::Object kNoMembers;

// What a lone half of a surrogate pair reads as (U+FFFD).
constexpr std::uint32_t kReplacement = 0xFFFD;
// Numbers up to this size are written without a fraction, exactly.
constexpr double kExactIntegers = 9007199254740992.0;  // 2^53

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at `i`, or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return overlong || surrogate || code > 0x10FFFF ? 0 : length;
}

void writeString(std::string& out, std::string_view s) {
    static const char* const kHex = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else if (c >= 0x80) {
            const std::size_t length = utf8Length(s, i);
            if (length == 0) {
                appendUtf8(out, c);
                ++i;
            } else {
                out.append(s.substr(i, length));
                i += length;
            }
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

void writeNumber(std::string& out, double n) {
    if (!std::isfinite(n)) {
        out += "null";
        return;
    }
    char buffer[32];
    std::to_chars_result written{};
    if (n == std::trunc(n) && std::fabs(n) < kExactIntegers) {
        written = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(n));
    } else {
        written = std::to_chars(buffer, buffer + sizeof buffer, n);
    }
    out.append(buffer, written.ptr);
}

void write(std::string& out, const JsonValue& value) {
    switch (value.kind()) {
        case JsonValue::Kind::Null:
            out += "null";
            return;
        case JsonValue::Kind::Bool:
            out += *value.boolean() ? "true" : "false";
            return;
        case JsonValue::Kind::Number:
            writeNumber(out, *value.number());
            return;
        case JsonValue::Kind::String:
            writeString(out, *value.text());
            return;
        case JsonValue::Kind::Array: {
            out += '[';
            bool first = true;
            for (const JsonValue& item : value.items()) {
                if (!first) out += ',';
                first = false;
                write(out, item);
            }
            out += ']';
            return;
        }
        case JsonValue::Kind::Object: {
            out += '{';
            bool first = true;
            for (const auto& [key, member] : value.members()) {
                if (!first) out += ',';
                first = false;
                writeString(out, key);
                out += ':';
                write(out, member);
            }
            out += '}';
            return;
        }
    }
}

// Recursive descent over the text; every failure returns false and leaves the reader
// where it stopped.
class Reader {
  public:
    explicit Reader(std::string_view text) : s_(text) {}

    std::optional<JsonValue> document() {
        JsonValue value;
        if (!parse(value, 0)) return std::nullopt;
        skipSpace();
        if (at_ != s_.size()) return std::nullopt;
        return value;
    }

  private:
    void skipSpace() {
        while (at_ < s_.size() &&
               (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' || s_[at_] == '\n'))
            ++at_;
    }

    bool literal(std::string_view word) {
        if (s_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    bool parse(JsonValue& out, int depth) {
        if (depth >= kMaxJsonDepth) return false;
        skipSpace();
        if (at_ >= s_.size()) return false;
        switch (s_[at_]) {
            case 'n':
                out = JsonValue();
                return literal("null");
            case 't':
                out = JsonValue(true);
                return literal("true");
            case 'f':
                out = JsonValue(false);
                return literal("false");
            case '"': {
                std::string text;
                if (!string(text)) return false;
                out = JsonValue(std::move(text));
                return true;
            }
            case '[':
                return array(out, depth);
            case '{':
                return object(out, depth);
            default:
                return number(out);
        }
    }

    bool array(JsonValue& out, int depth) {
        ++at_;
        out = JsonValue::array();
        skipSpace();
        if (at_ < s_.size() && s_[at_] == ']') {
            ++at_;
            return true;
        }
        for (;;) {
            JsonValue item;
            if (!parse(item, depth + 1)) return false;
            out.push(std::move(item));
            skipSpace();
            if (at_ >= s_.size()) return false;
            if (s_[at_++] == ']') return true;
            if (s_[at_ - 1] != ',') return false;
        }
    }

    bool object(JsonValue& out, int depth) {
        ++at_;
        out = JsonValue::object();
        skipSpace();
        if (at_ < s_.size() && s_[at_] == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            skipSpace();
            std::string key;
            if (at_ >= s_.size() || s_[at_] != '"' || !string(key)) return false;
            skipSpace();
            if (at_ >= s_.size() || s_[at_++] != ':') return false;
            JsonValue member;
            if (!parse(member, depth + 1)) return false;
            out.add(std::move(key), std::move(member));
            skipSpace();
            if (at_ >= s_.size()) return false;
            if (s_[at_++] == '}') return true;
            if (s_[at_ - 1] != ',') return false;
        }
    }

    bool hex4(std::uint32_t& code) {
        if (at_ + 4 > s_.size()) return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool string(std::string& out) {
        ++at_;
        while (at_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[at_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= s_.size()) return false;
            const char escape = s_[at_++];
            switch (escape) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t code = 0;
                    if (!hex4(code)) return false;
                    // A surrogate pair makes one character; a lone half is no character.
                    if (code >= 0xD800 && code <= 0xDBFF && s_.substr(at_, 2) == "\\u") {
                        const std::size_t back = at_;
                        at_ += 2;
                        std::uint32_t low = 0;
                        if (hex4(low) && low >= 0xDC00 && low <= 0xDFFF) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        } else {
                            at_ = back;
                        }
                    }
                    if (code >= 0xD800 && code <= 0xDFFF) code = kReplacement;
                    appendUtf8(out, code);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    bool number(JsonValue& out) {
        const char first = s_[at_];
        if (first != '-' && (first < '0' || first > '9')) return false;
        const std::size_t start = at_;
        while (at_ < s_.size() &&
               (std::string_view("+-.eE").find(s_[at_]) != std::string_view::npos ||
                (s_[at_] >= '0' && s_[at_] <= '9')))
            ++at_;
        double value = 0;
        const char* begin = s_.data() + start;
        const char* end = s_.data() + at_;
        const auto [ptr, error] = std::from_chars(begin, end, value);
        if (error != std::errc() || ptr != end) return false;
        out = JsonValue(value);
        return true;
    }

    std::string_view s_;
    std::size_t at_ = 0;
};

}  // namespace

JsonValue JsonValue::textOrNull(const std::string& text) {
    return text.empty() ? JsonValue() : JsonValue(text);
}

JsonValue& JsonValue::set(const std::string& key, JsonValue value) {
    for (auto& [name, member] : members_) {
        if (name == key) {
            member = std::move(value);
            return *this;
        }
    }
    members_.emplace_back(key, std::move(value));
    return *this;
}

void JsonValue::add(std::string key, JsonValue value) {
    members_.emplace_back(std::move(key), std::move(value));
}

void JsonValue::push(JsonValue value) {
    items_.push_back(std::move(value));
}

const JsonValue* JsonValue::find(std::string_view key) const {
    if (kind_ != Kind::Object) return nullptr;
    for (const auto& [name, member] : members_)
        if (name == key) return &member;
    return nullptr;
}

const JsonValue::Array& JsonValue::items() const {
    return kind_ == Kind::Array ? items_ : kNoItems;
}

const JsonValue::Object& JsonValue::members() const {
    return kind_ == Kind::Object ? members_ : kNoMembers;
}

std::optional<bool> JsonValue::boolean() const {
    if (kind_ != Kind::Bool) return std::nullopt;
    return bool_;
}

std::optional<double> JsonValue::number() const {
    if (kind_ != Kind::Number) return std::nullopt;
    return number_;
}

std::optional<std::string> JsonValue::text() const {
    if (kind_ != Kind::String) return std::nullopt;
    return text_;
}

std::string JsonValue::textAt(std::string_view key) const {
    const JsonValue* member = find(key);
    return member && member->kind_ == Kind::String ? member->text_ : std::string();
}

double JsonValue::numberAt(std::string_view key, double otherwise) const {
    const JsonValue* member = find(key);
    return member && member->kind_ == Kind::Number ? member->number_ : otherwise;
}

std::string WriteJson(const JsonValue& value) {
    std::string out;
    write(out, value);
    return out;
}

std::optional<JsonValue> ParseJson(std::string_view text) {
    return Reader(text).document();
}

}  // namespace kv
