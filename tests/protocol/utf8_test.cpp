#include <gtest/gtest.h>

#include "tessel_client/protocol/utf8.hpp"

namespace tessel {
namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

TEST(Utf8, LossyReplacesEachMaximalSubpart) {
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"plain ascii text, long enough for the word loop", "plain ascii text, long enough for the word loop"},
        {"h\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "h\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xF0\x9F\x98" "A", R + "A"},          // truncated 4-byte sequence: one replacement
        {"\xED\xA0\x80", R + R + R},            // surrogate: lead has no valid second byte here
        {"\xC0\xAF", R + R},                    // overlong lead byte
        {"\xE0\x80\x80", R + R + R},
        {"\xF4\x90\x80\x80", R + R + R + R},    // above U+10FFFF
        {"\xF5\x80", R + R},
        {"\x80\xBF", R + R},                    // stray continuation bytes
        {"\xE2\x82", R},                        // cut off at the end
        {"\xE2\x82" "abcdefghijk", R + "abcdefghijk"},
        {"abcdefgh\xFF" "abcdefgh", "abcdefgh" + R + "abcdefgh"},
        {"\xC3", R},
        {"", ""},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(utf8_lossy(c.bytes), c.text);
        EXPECT_EQ(utf8_valid(c.bytes), c.bytes == c.text);
        EXPECT_TRUE(utf8_valid(utf8_lossy(c.bytes)));
    }
    std::string out = "x";
    utf8_lossy_append("\xFFy", out);
    EXPECT_EQ(out, "x" + R + "y");
}

TEST(Utf8, BoundariesOfValidity) {
    for (const char* ok : {"\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                           "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(utf8_valid(ok)) << ok;
    }
    for (const char* bad : {"\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
                            "\xC2\xC0", "\xF8\x88\x80\x80\x80"}) {
        EXPECT_FALSE(utf8_valid(bad)) << bad;
    }
}

// The check skips ASCII many bytes a step and takes the tail with one overlapping load:
// sequences, whole or broken, must be judged the same at every place around those steps. The
// lossy decoder walks byte by byte and changes exactly the invalid texts.
TEST(Utf8, ValidAtEveryOffsetAndLength) {
    const std::string pieces[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
                                  "\xE2\x82",  "\xF0\x9F\x98", "\x80",             "\xFF",
                                  "\xED\xA0\x80", "\xC3",         "\xC3\xA9\xE2\x82\xAC",
                                  "\xC3\xA9\xE2\x82"};
    for (const std::string& piece : pieces) {
        for (std::size_t len = piece.size(); len <= 70; ++len) {
            for (std::size_t at = 0; at + piece.size() <= len; ++at) {
                std::string text(len, 'a');
                text.replace(at, piece.size(), piece);
                const bool expected = utf8_lossy(text) == text;
                ASSERT_EQ(utf8_valid(text), expected) << "len " << len << " at " << at;
                ASSERT_EQ(utf8_valid(std::string_view(text).substr(1)), utf8_lossy(text.substr(1)) == text.substr(1))
                    << "len " << len << " at " << at << " from 1";
            }
        }
    }
}

TEST(Utf8, AppendNextAndLength) {
    const char32_t cps[] = {U'a', 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF};
    std::string text;
    for (char32_t cp : cps) utf8_append(cp, text);
    EXPECT_TRUE(utf8_valid(text));
    EXPECT_EQ(utf8_length(text), std::size(cps));
    std::size_t pos = 0;
    for (char32_t cp : cps) EXPECT_EQ(utf8_next(text, pos), cp);
    EXPECT_EQ(pos, text.size());
    EXPECT_FALSE(utf8_next(text, pos));

    std::string bad;
    utf8_append(0xD800, bad);
    utf8_append(0x110000, bad);
    EXPECT_EQ(bad, R + R);

    const std::string broken = "a\xE2\x82";
    pos = 1;
    EXPECT_FALSE(utf8_next(broken, pos));
    EXPECT_EQ(pos, 1u);
    EXPECT_EQ(utf8_next_lossy(broken, pos), U'\uFFFD');
    EXPECT_EQ(pos, 3u);
}

TEST(Utf8, Contains) {
    EXPECT_TRUE(utf8_contains("#&", U'&'));
    EXPECT_TRUE(utf8_contains("a\u00e9b", U'\u00e9'));
    EXPECT_FALSE(utf8_contains("a\u00e9b", U'\u00c9'));
    EXPECT_FALSE(utf8_contains(R, 0xD800));
    EXPECT_FALSE(utf8_contains("", U'a'));
}

}  // namespace
}  // namespace tessel
