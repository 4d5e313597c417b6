// Second pass of a tagged union: records read from kept content (an object's entries in
// text order, or an array's elements), and the readers of single field values. Errors here
// carry no position: they are plain messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tessel_client/formats/json_content.hpp"
#include "tessel_client/formats/json_messages.hpp"

namespace tessel {

struct KeptField {
    std::string_view name;
    bool required;
};

std::string describe(const JsonContent& value);

// Reads the fields of a record from an Object (keys select fields; unknown keys are skipped
// unread; a repeated field fails before its second value is read; then the first absent
// required field fails) or from an Array (element i is field i; too few fail with
// `too_few`, too many once every field is read). `read(i, value, error)` reads field i.
template <class ReadField>
bool read_kept_fields(JsonContent& kept, std::span<const KeptField> fields, std::string_view too_few,
                      ReadField&& read, std::string& error) {
    if (auto* members = std::get_if<JsonContent::Object>(&kept.value)) {
        std::uint64_t seen = 0;
        for (auto& [key, value] : *members) {
            std::size_t i = 0;
            while (i < fields.size() && fields[i].name != key) ++i;
            if (i == fields.size()) continue;
            const std::uint64_t bit = std::uint64_t{1} << i;
            if (seen & bit) {
                error = duplicate_field(fields[i].name);
                return false;
            }
            seen |= bit;
            if (!read(i, value, error)) return false;
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].required && !(seen & (std::uint64_t{1} << i))) {
                error = missing_field(fields[i].name);
                return false;
            }
        }
        return true;
    }
    auto& items = std::get<JsonContent::Array>(kept.value);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i >= items.size()) {
            error = invalid_length(i, too_few);
            return false;
        }
        if (!read(i, items[i], error)) return false;
    }
    if (items.size() > fields.size()) {
        error = invalid_length(items.size(), elements_in_sequence(fields.size()));
        return false;
    }
    return true;
}

// A record nested in kept content: an object or an array, else "invalid type: {}, expected
// {expecting}" (for example "struct TrackHint").
template <class ReadField>
bool read_kept_record(JsonContent& value, std::string_view expecting, std::span<const KeptField> fields,
                      std::string_view too_few, ReadField&& read, std::string& error) {
    if (!std::holds_alternative<JsonContent::Object>(value.value) &&
        !std::holds_alternative<JsonContent::Array>(value.value)) {
        error = invalid_type(describe(value), expecting);
        return false;
    }
    return read_kept_fields(value, fields, too_few, read, error);
}

// First pass of a tagged union over a buffered value (a union nested in kept content): an
// object's "tag_key" entry (anywhere; a second one fails before its value is looked at) or
// an array's first element names the variant; the rest is kept in `kept` (Object or Array).
// The tag is a string of `words`, or, when `allow_index`, an integer variant index.
// `expecting` is "internally tagged enum X".
bool split_tagged_content(JsonContent& value, std::string_view expecting, std::string_view tag_key,
                          std::span<const std::string_view> words, bool allow_index, std::size_t& variant,
                          JsonContent& kept, std::string& error);

// Field values. Each consumes the value it is given.
bool read_content_string(JsonContent& value, std::string& out, std::string& error);
// Null is none.
bool read_content_optional_string(JsonContent& value, std::optional<std::string>& out, std::string& error);
bool read_content_strings(JsonContent& value, std::vector<std::string>& out, std::string& error);
// An integer from 0 to `max`; `expected` is "u16", "u32", "u64".
bool read_content_unsigned(JsonContent& value, std::uint64_t max, std::string_view expected,
                           std::uint64_t& out, std::string& error);
// A word of `words`: a string, or an object with exactly one key whose value is null or {}.
bool read_content_word(JsonContent& value, std::span<const std::string_view> words, std::size_t& index,
                       std::string& error);

}  // namespace tessel
