#include <gtest/gtest.h>

#include "tessel_client/protocol/unicode_props.hpp"
#include "tessel_client/protocol/unicode_tables.hpp"

namespace tessel {
namespace {

TEST(UnicodeProps, Samples) {
    struct Case {
        char32_t c;
        bool white_space, alphabetic, numeric, grapheme_extend, escaped;
    };
    const Case cases[] = {
        {U' ', true, false, false, false, false},
        {U'\t', true, false, false, false, true},      // Cc
        {0x00A0, true, false, false, false, true},     // no-break space, Zs
        {0x3000, true, false, false, false, true},
        {0x2028, true, false, false, false, true},     // Zl
        {0x200B, false, false, false, false, true},    // zero width space, Cf
        {U'a', false, true, false, false, false},
        {U'Z', false, true, false, false, false},
        {0x00E9, false, true, false, false, false},
        {0x4E2D, false, true, false, false, false},    // CJK ideograph
        {0x0345, false, true, false, true, true},      // combining iota: alphabetic and extending
        {0x0301, false, false, false, true, true},     // combining acute accent
        {0x200C, false, false, false, true, true},     // zero width non-joiner (Cf, extending)
        {U'7', false, false, true, false, false},
        {0x0663, false, false, true, false, false},    // Arabic-Indic three (Nd)
        {0x2164, false, true, true, false, false},     // Roman numeral five (Nl, also Alphabetic)
        {0x00BD, false, false, true, false, false},    // one half (No)
        {U'!', false, false, false, false, false},
        {0x007F, false, false, false, false, true},    // Cc
        {0xD800, false, false, false, false, true},    // Cs
        {0xE000, false, false, false, false, true},    // Co
        {0x0378, false, false, false, false, true},    // unassigned: Cn
        {0x10FFFF, false, false, false, false, true},
        {0x1F600, false, false, false, false, false},  // emoji
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<std::uint32_t>(c.c));
        EXPECT_EQ(is_white_space(c.c), c.white_space);
        EXPECT_EQ(is_alphabetic(c.c), c.alphabetic);
        EXPECT_EQ(is_numeric(c.c), c.numeric);
        EXPECT_EQ(is_grapheme_extend(c.c), c.grapheme_extend);
        EXPECT_EQ(is_escaped_when_shown(c.c), c.escaped);
    }
}

// The ASCII shortcuts must agree with the tables they stand for.
TEST(UnicodeProps, AsciiAgreesWithDefinition) {
    for (char32_t c = 0; c < 0x80; ++c) {
        EXPECT_EQ(is_white_space(c), c == U' ' || (c >= 9 && c <= 13)) << static_cast<std::uint32_t>(c);
        EXPECT_EQ(is_alphabetic(c), (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) << static_cast<std::uint32_t>(c);
        EXPECT_EQ(is_numeric(c), c >= U'0' && c <= U'9') << static_cast<std::uint32_t>(c);
        EXPECT_EQ(is_escaped_when_shown(c), c < 0x20 || c == 0x7F) << static_cast<std::uint32_t>(c);
    }
}

// The lookup is a binary search over ranges: it silently gives wrong answers unless
// every table is sorted, its ranges are well formed, and neighbours neither overlap
// nor touch (touching ranges would mean the generator failed to merge them).
TEST(UnicodeProps, TablesAreSortedDisjointRanges) {
    using unicode_tables::CodeRange;
    struct Table {
        const char* name;
        const CodeRange* ranges;
        std::size_t size;
    };
    const Table tables[] = {
        {"White_Space", unicode_tables::kWhiteSpace, unicode_tables::kWhiteSpaceSize},
        {"Alphabetic", unicode_tables::kAlphabetic, unicode_tables::kAlphabeticSize},
        {"Numeric", unicode_tables::kNumeric, unicode_tables::kNumericSize},
        {"Grapheme_Extend", unicode_tables::kGraphemeExtend, unicode_tables::kGraphemeExtendSize},
        {"EscapedWhenShown", unicode_tables::kEscapedWhenShown, unicode_tables::kEscapedWhenShownSize},
    };
    for (const Table& t : tables) {
        SCOPED_TRACE(t.name);
        ASSERT_GT(t.size, 0u);
        for (std::size_t i = 0; i < t.size; ++i) {
            EXPECT_LE(t.ranges[i].first, t.ranges[i].last) << i;
            EXPECT_LE(t.ranges[i].last, 0x10FFFFu) << i;
            if (i > 0) {
                EXPECT_GT(t.ranges[i].first, t.ranges[i - 1].last + 1) << i;
            }
        }
    }
    // The escaped set covers the last code point (U+10FFFF is a noncharacter: Cn), and
    // unassigned planes in between.
    EXPECT_EQ(unicode_tables::kEscapedWhenShown[unicode_tables::kEscapedWhenShownSize - 1].last, 0x10FFFFu);
    EXPECT_TRUE(is_escaped_when_shown(0x40000));
    EXPECT_TRUE(is_escaped_when_shown(0x110000));
}

}  // namespace
}  // namespace tessel
