// A JSON value held whole between the two passes of a tagged-union read: the entries of an
// object in text order (repeated keys kept), numbers in the three classes of the reader.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tessel {

struct JsonContent {
    struct Null {
        bool operator==(const Null&) const = default;
    };
    using Array = std::vector<JsonContent>;
    using Member = std::pair<std::string, JsonContent>;
    using Object = std::vector<Member>;
    // Unsigned integer, negative integer, floating point: the classes of the number grammar.
    using Variant = std::variant<Null, bool, std::uint64_t, std::int64_t, double, std::string, Array, Object>;

    Variant value;

    JsonContent() = default;
    JsonContent(Variant v) : value(std::move(v)) {}

    bool is_null() const { return std::holds_alternative<Null>(value); }
    bool operator==(const JsonContent&) const = default;
};

// Appends how an error text shows the value: string "..", integer `5`, floating point `1.5`,
// boolean `true`, null, sequence, map.
void describe_content(const JsonContent& value, std::string& out);

}  // namespace tessel
