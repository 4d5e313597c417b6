#include "tessel_client/protocol/unicode_props.hpp"

#include <algorithm>
#include <cstddef>

#include "tessel_client/protocol/unicode_tables.hpp"

namespace tessel {
namespace {

using unicode_tables::CodeRange;

bool in_table(const CodeRange* table, std::size_t size, char32_t c) {
    const CodeRange* end = table + size;
    // First range whose last code point is not below c.
    const CodeRange* it = std::lower_bound(table, end, c,
                                           [](const CodeRange& r, char32_t v) { return r.last < v; });
    return it != end && it->first <= c;
}

}  // namespace

bool is_white_space(char32_t c) {
    if (c < 0x80) return c == U' ' || (c >= 0x09 && c <= 0x0D);
    return in_table(unicode_tables::kWhiteSpace, unicode_tables::kWhiteSpaceSize, c);
}

bool is_alphabetic(char32_t c) {
    if (c < 0x80) return (c | 0x20) >= U'a' && (c | 0x20) <= U'z';
    return in_table(unicode_tables::kAlphabetic, unicode_tables::kAlphabeticSize, c);
}

bool is_numeric(char32_t c) {
    if (c < 0x80) return c >= U'0' && c <= U'9';
    return in_table(unicode_tables::kNumeric, unicode_tables::kNumericSize, c);
}

bool is_grapheme_extend(char32_t c) {
    return in_table(unicode_tables::kGraphemeExtend, unicode_tables::kGraphemeExtendSize, c);
}

bool is_escaped_when_shown(char32_t c) {
    // Beyond U+10FFFF nothing is assigned: shown escaped like any unassigned code point.
    if (c > 0x10FFFF) return true;
    return in_table(unicode_tables::kEscapedWhenShown, unicode_tables::kEscapedWhenShownSize, c);
}

}  // namespace tessel
