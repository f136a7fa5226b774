#pragma once
// A small JSON value for the record files (one object per line), written and read with the
// standard library alone so that records/ needs nothing else.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv {

class JsonValue {
  public:
    enum class Kind { Null, Bool, Number, String, Array, Object };
    using Array = std::vector<JsonValue>;
    // Members in the order they were set or read.
    using Object = std::vector<std::pair<std::string, JsonValue>>;

    JsonValue() = default;
    JsonValue(std::nullptr_t) {}
    JsonValue(bool value) : kind_(Kind::Bool), bool_(value) {}
    JsonValue(double value) : kind_(Kind::Number), number_(value) {}
    JsonValue(int value) : JsonValue(static_cast<double>(value)) {}
    JsonValue(std::uint64_t value) : JsonValue(static_cast<double>(value)) {}
    JsonValue(std::string value) : kind_(Kind::String), text_(std::move(value)) {}
    JsonValue(const char* value) : JsonValue(std::string(value)) {}
    static JsonValue array() { return JsonValue(Kind::Array); }
    static JsonValue object() { return JsonValue(Kind::Object); }
    // A text, or null when it is empty (absent values are null in the files, never "").
    static JsonValue textOrNull(const std::string& text);

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }

    // Object: sets a member (replacing one of the same key). Returns *this.
    JsonValue& set(const std::string& key, JsonValue value);
    // Object: appends a member as read; of equal keys the first counts.
    void add(std::string key, JsonValue value);
    // Array: appends.
    void push(JsonValue value);

    // The member of an object, or nullptr (also when this is no object).
    const JsonValue* find(std::string_view key) const;
    // Empty when this is no array / no object.
    const Array& items() const;
    const Object& members() const;

    std::optional<bool> boolean() const;
    std::optional<double> number() const;
    std::optional<std::string> text() const;
    // A member's text; "" when absent, null or no text.
    std::string textAt(std::string_view key) const;
    // A member's number; `otherwise` when absent or no number.
    double numberAt(std::string_view key, double otherwise = 0) const;

  private:
    explicit JsonValue(Kind kind) : kind_(kind) {}
    Kind kind_ = Kind::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string text_;
    Array items_;
    Object members_;
};

// The value on one line: no spaces, no line breaks (control characters are escaped);
// bytes that are not UTF-8 are written as the Latin-1 character of the same number, so the
// line is always valid JSON. Numbers that are not finite are written null.
std::string WriteJson(const JsonValue& value);

// Exactly one JSON value (surrounding white space allowed); nullopt for anything else, also
// for nesting deeper than kMaxJsonDepth. Never throws on bad input.
inline constexpr int kMaxJsonDepth = 32;
std::optional<JsonValue> ParseJson(std::string_view text);

}  // namespace kv
