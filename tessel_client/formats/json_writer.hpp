// Text rules shared by every host-facing JSON writer: compact, strings escaped only for the
// quotation mark, the backslash and U+0000 to U+001F, unsigned decimal integers.
//
// Writers are templates over their output: a std::string, or a JsonSizer that only adds up
// lengths. A writer first sizes the whole text with a JsonSizer and reserves once, so that
// a large snapshot is not copied and re-faulted on every doubling of its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

// Starting room of a writer's buffer before its size is known.
inline constexpr std::size_t kJsonBufferStart = 128;

// Counts the bytes a writer would append; strings are counted without their escapes, so
// the count is a lower bound that is exact for text without control characters, quotes
// and backslashes.
struct JsonSizer {
    std::size_t size = 0;
    JsonSizer& operator+=(char) {
        ++size;
        return *this;
    }
    JsonSizer& operator+=(std::string_view s) {
        size += s.size();
        return *this;
    }
};

// Room to reserve for a text of `counted` bytes, with slack for escapes.
inline std::size_t json_reserve_for(const JsonSizer& sizer) {
    return sizer.size + sizer.size / 16 + kJsonBufferStart;
}

// Appends a JSON string: quotes around the text, escapes inside.
void write_json_text(std::string_view text, std::string& out);
inline void write_json_text(std::string_view text, JsonSizer& out) { out.size += text.size() + 2; }

void write_json_u64(std::uint64_t value, std::string& out);
inline void write_json_u64(std::uint64_t value, JsonSizer& out) {
    std::size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    out.size += digits;
}

template <class Out>
void write_json_bool(bool value, Out& out) {
    out += value ? std::string_view("true") : std::string_view("false");
}

template <class Out>
void write_json_optional_text(const std::optional<std::string>& text, Out& out) {
    if (text)
        write_json_text(*text, out);
    else
        out += std::string_view("null");
}

template <class Out>
void write_json_optional_u64(const std::optional<std::uint64_t>& value, Out& out) {
    if (value)
        write_json_u64(*value, out);
    else
        out += std::string_view("null");
}

// Appends ,"key": and the value; keys are fixed words that need no escaping.
template <class Out>
void text_member(std::string_view key, std::string_view value, Out& out) {
    out += ",\"";
    out += key;
    out += "\":";
    write_json_text(value, out);
}

template <class Out>
void optional_text_member(std::string_view key, const std::optional<std::string>& value, Out& out) {
    out += ",\"";
    out += key;
    out += "\":";
    write_json_optional_text(value, out);
}

// An array of strings ("[]" when empty), in the order of the range.
template <class Items, class Out>
void write_json_text_list(const Items& items, Out& out) {
    out += '[';
    bool first = true;
    for (const auto& item : items) {
        if (!first) out += ',';
        first = false;
        write_json_text(item, out);
    }
    out += ']';
}

// A buffer of at least `bytes` bytes of room.
std::string json_buffer_for(std::size_t bytes);

// Sizes with `write(sizer)`, reserves once, then writes for real with `write(text)`.
template <class Write>
std::string write_sized(Write&& write) {
    JsonSizer sizer;
    write(sizer);
    std::string out = json_buffer_for(json_reserve_for(sizer));
    write(out);
    return out;
}

}  // namespace tessel
