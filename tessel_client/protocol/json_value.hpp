// The small JSON value carried inside message tags (integers only, ordered objects).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tessel {

struct JsonValue {
    struct Null {
        bool operator==(const Null&) const = default;
    };
    using Array = std::vector<JsonValue>;
    using Object = std::vector<std::pair<std::string, JsonValue>>;
    // Order of alternatives: Null, Bool, Number, String, Array, Object.
    using Variant = std::variant<Null, bool, std::int64_t, std::string, Array, Object>;

    Variant value;

    JsonValue() = default;
    JsonValue(Variant v) : value(std::move(v)) {}

    bool is_null() const { return std::holds_alternative<Null>(value); }
    const bool* as_bool() const { return std::get_if<bool>(&value); }
    const std::int64_t* as_number() const { return std::get_if<std::int64_t>(&value); }
    const std::string* as_string() const { return std::get_if<std::string>(&value); }
    const Array* as_array() const { return std::get_if<Array>(&value); }
    const Object* as_object() const { return std::get_if<Object>(&value); }
    // First pair with this key in an object; null when not an object or absent.
    const JsonValue* get(std::string_view key) const;

    void write(std::string& out) const;
    bool operator==(const JsonValue&) const = default;
};

// A text with a byte position; the reader refuses values nested deeper than kMaxDepth.
struct JsonCursor {
    static constexpr int kMaxDepth = 64;
    std::string_view text;
    std::size_t pos = 0;
    int depth = 0;
};

std::optional<JsonValue> parse_json_text(std::string_view text);
std::optional<JsonValue> parse_json_value(JsonCursor& reader);
std::optional<std::string> parse_json_string(JsonCursor& reader);
std::optional<std::uint16_t> parse_json_hex4(JsonCursor& reader);
void write_json_string(std::string_view text, std::string& out);

}  // namespace tessel
