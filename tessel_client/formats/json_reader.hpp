// One read of host JSON text: the grammar, the number classes, strings and escapes, the
// nesting budget, the bracket-stack skip of ignored values, and the first pass of a tagged
// union. Every fault is recorded once, with the point in the text it belongs to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "tessel_client/formats/json_content.hpp"
#include "tessel_client/formats/json_read_error.hpp"

namespace tessel {

// A value read from host JSON, or the error that stopped the read.
template <class T>
class JsonResult {
public:
    JsonResult(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    JsonResult(JsonReadError error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    const JsonReadError& error() const { return std::get<1>(v_); }

private:
    std::variant<T, JsonReadError> v_;
};

struct JsonNumber {
    enum class Kind : std::uint8_t { Unsigned, Negative, Float };
    Kind kind = Kind::Unsigned;
    std::uint64_t u = 0;  // Unsigned
    std::int64_t i = 0;   // Negative
    double f = 0;         // Float
};

// What the first pass of a tagged union keeps: the variant chosen by the tag, and the other
// entries of the object (an Object, in text order) or the elements after the tag (an Array).
struct TaggedContent {
    std::size_t variant = 0;
    JsonContent kept;
};

class JsonReader {
public:
    static constexpr std::uint8_t kDepthBudget = 128;

    explicit JsonReader(std::string_view text) : text(text) {}

    std::string_view text;
    std::size_t index = 0;
    std::uint8_t depth_budget = kDepthBudget;
    std::string scratch;  // decoded strings; the bracket stack of skip_value

    // ---- failure -------------------------------------------------------------------------
    // Each records the first failure only and returns false.
    bool fail_at(std::string message, std::size_t point);
    bool fail_here(std::string message) { return fail_at(std::move(message), index); }
    // Just after the next byte: the faulty byte's column counted from 1; the end at the end.
    bool fail_peek(std::string message) {
        return fail_at(std::move(message), index < text.size() ? index + 1 : text.size());
    }
    bool fail_unpositioned(std::string message);
    // A failure without a position takes the place this reader reaches when it gives up on
    // the object or array it is in: white space skipped, and `closer` taken if it is next.
    void give_up(char closer);
    bool failed() const { return failed_; }
    JsonReadError error() const;

    // ---- grammar -------------------------------------------------------------------------
    // Skips white space; the next byte, or -1 at the end of the text.
    int peek_ws();
    // `index` at '"'. A string without escapes is a view of the text; one with escapes is
    // decoded into `scratch` (valid until the next use of scratch).
    bool read_string(std::string_view& out);
    // `index` at '-' or a digit.
    bool read_number(JsonNumber& out);
    // `index` at the literal's first letter; `word` is "null", "true" or "false".
    bool read_literal(std::string_view word);
    // `index` at '[' or '{': takes one from the nesting budget and the bracket.
    bool open();
    // `index` at ']' or '}': takes the bracket and gives the budget back.
    void close();

    enum class Step : std::uint8_t { Item, End, Failed };
    // Before an array element: Item (at its first byte), End (at ']') or Failed.
    Step next_element(bool& first);
    // Before an object member: Item (at the key's '"'), End (at '}') or Failed.
    Step next_member(bool& first);
    bool expect_colon();

    // ---- values --------------------------------------------------------------------------
    // Any value, kept whole (its arrays and objects count towards the nesting budget).
    bool read_content(JsonContent& out);
    // Any value, checked against the grammar only: no nesting limit, no number range, no
    // surrogate pairing.
    bool skip_value();
    // Reads the value at `index` only to show it, and fails with "invalid type: {}, expected
    // {expected}" (arrays and objects are not taken).
    bool fail_invalid_type(std::string_view expected);

    // Field readers straight from the text.
    bool read_text(std::string& out);  // "a string"
    // True and the literal taken when the next value is null.
    bool take_null(bool& was_null);
    bool read_optional_text(std::optional<std::string>& out);
    bool read_unsigned(std::uint64_t max, std::string_view expected, std::uint64_t& out);
    bool read_text_list(std::vector<std::string>& out);  // "a sequence" of "a string"

    // First pass of a tagged union: `expecting` is "internally tagged enum X"; the tag is a
    // string naming one of `words`.
    bool read_tagged(std::string_view expecting, std::string_view tag_key,
                     std::span<const std::string_view> words, TaggedContent& out);
    bool read_tag(std::span<const std::string_view> words, std::size_t& variant);

    // Only white space may follow the value.
    bool finish();

private:
    bool read_escape(bool decode);
    bool read_hex4(std::uint16_t& out);
    bool scan_string(bool decode, std::string_view* out);
    bool scan_number(JsonNumber* out);

    bool failed_ = false;
    bool positioned_ = false;
    std::size_t point_ = 0;
    std::string message_;
};

// Runs a reader over one whole text: `read(reader, out)` reads the value, then only white
// space may follow.
template <class T, class Read>
JsonResult<T> read_whole_text(std::string_view text, Read&& read) {
    JsonReader reader(text);
    T out{};
    if (!read(reader, out) || !reader.finish()) return reader.error();
    return out;
}

}  // namespace tessel
