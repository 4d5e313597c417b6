// The host JSON reader: grammar faults with their exact texts and positions, number
// classes and the float rule, string escapes, the nesting budget and the skip scan.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tessel_client/formats/config_json.hpp"
#include "tessel_client/formats/json_messages.hpp"
#include "tessel_client/formats/json_reader.hpp"

namespace tessel {
namespace {

// Reads one kept value and the end of the text; "ok" or the shown error.
std::string read_any(std::string_view text) {
    JsonReader r(text);
    JsonContent v;
    if (r.read_content(v) && r.finish()) return "ok";
    return r.error().shown();
}

JsonContent content_of(std::string_view text) {
    JsonReader r(text);
    JsonContent v;
    EXPECT_TRUE(r.read_content(v) && r.finish()) << text << ": " << r.error().shown();
    return v;
}

std::string config_error(std::string_view text) {
    const auto r = config_from_json(text);
    return r.ok() ? "ok" : r.error().shown();
}

struct Case {
    std::string text;
    std::string expected;
};

TEST(JsonReader, SyntaxFaultsCarryTheirTextAndPosition) {
    const Case cases[] = {
        {"", "EOF while parsing a value at line 1 column 0"},
        {"   ", "EOF while parsing a value at line 1 column 3"},
        {"[1,", "EOF while parsing a value at line 1 column 3"},
        {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
        {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
        {"[1", "EOF while parsing a list at line 1 column 2"},
        {"[", "EOF while parsing a list at line 1 column 1"},
        {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
        {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
        {"{", "EOF while parsing an object at line 1 column 1"},
        {"\"ab", "EOF while parsing a string at line 1 column 3"},
        {"\"a\\", "EOF while parsing a string at line 1 column 3"},
        {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
        {"{\"a\" 1}", "expected `:` at line 1 column 6"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
        {"nul1", "expected ident at line 1 column 4"},
        {"tru", "EOF while parsing a value at line 1 column 3"},
        {"True", "expected value at line 1 column 1"},
        {"[}", "expected value at line 1 column 2"},
        {"\"\\x\"", "invalid escape at line 1 column 3"},
        {"\"\\u12G4\"", "invalid escape at line 1 column 7"},
        {"01", "invalid number at line 1 column 2"},
        {"-x", "invalid number at line 1 column 2"},
        {"-", "EOF while parsing a value at line 1 column 1"},
        {"1.x", "invalid number at line 1 column 3"},
        {"1.", "EOF while parsing a value at line 1 column 2"},
        {"1e+x", "invalid number at line 1 column 4"},
        {"1e", "EOF while parsing a value at line 1 column 2"},
        {"+1", "expected value at line 1 column 1"},
        {"1e999", "number out of range at line 1 column 5"},
        {"[-1.5e400]", "number out of range at line 1 column 9"},
        {"\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"{,}", "key must be a string at line 1 column 2"},
        {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
        {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
        {"\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
        {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
        {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"{\"a\":1,}", "trailing comma at line 1 column 8"},
        {"1 2", "trailing characters at line 1 column 3"},
        {"[1]\n\n  x", "trailing characters at line 3 column 3"},
        {"\"\xC3\xA9\" x", "trailing characters at line 1 column 6"},  // columns count bytes
        {"\n", "EOF while parsing a value at line 2 column 0"},
    };
    for (const auto& c : cases) EXPECT_EQ(read_any(c.text), c.expected) << c.text;
}

TEST(JsonReader, AcceptsTheWholeGrammar) {
    const char* good[] = {
        " \t\r\n{ \"a\" : [ 1 , -2 , 3.5e-2 , 0 , -0 , 1E+2 , true , false , null , \"\\\"\\\\\\/\\b\\f\\n\\r\\t\" ] } ",
        "[]", "{}", "[[],{}]", "\"\\u0000\"", "\"\x7f\xF0\x9F\x98\x80\"",
    };
    for (const char* text : good) EXPECT_EQ(read_any(text), "ok") << text;
}

TEST(JsonReader, NumbersFallIntoThreeClasses) {
    using V = JsonContent::Variant;
    EXPECT_EQ(content_of("0").value, V(std::uint64_t{0}));
    EXPECT_EQ(content_of("18446744073709551615").value, V(std::uint64_t{18446744073709551615u}));
    EXPECT_EQ(content_of("-1").value, V(std::int64_t{-1}));
    EXPECT_EQ(content_of("-9223372036854775808").value, V(std::int64_t{INT64_MIN}));
    // Beyond the integer ranges, and -0, are floating point.
    EXPECT_EQ(content_of("18446744073709551616").value, V(18446744073709551616.0));
    EXPECT_EQ(content_of("-9223372036854775809").value, V(-9223372036854775809.0));
    const auto neg_zero = std::get<double>(content_of("-0").value);
    EXPECT_TRUE(neg_zero == 0.0 && std::signbit(neg_zero));
    EXPECT_EQ(content_of("2e0").value, V(2.0));
}

TEST(JsonReader, FloatsFollowTheSignificandRuleNotCorrectRounding) {
    struct F {
        const char* text;
        const char* shown;
    };
    const F cases[] = {
        {"1.5", "1.5"},
        {"5e3", "5000.0"},
        {"0.1e1", "1.0"},
        {"1e20", "1e+20"},
        {"18446744073709551616", "1.8446744073709552e+19"},
        {"123456789012345678901234567890", "1.2345678901234568e+29"},
        {"1e-400", "0.0"},
        {"0e999", "0.0"},
        {"-0.0", "-0.0"},
        // 90071992547409930 -> nearest double, then / 10: one above what strtod gives.
        {"9007199254740993.0", "9007199254740994.0"},
        // Fraction digits beyond what fits in 64 bits are dropped.
        {"0.12345678901234567890123", "0.12345678901234568"},
        // Once the integer part no longer fits, its fraction digits are dropped as well:
        // 1844674407370955161 x 10^-305, not 18446744073709551615 x 10^-306.
        {"18446744073709551616.5e-306", "1.8446744073709555e-287"},
    };
    for (const auto& c : cases) {
        const JsonContent v = content_of(c.text);
        ASSERT_TRUE(std::holds_alternative<double>(v.value)) << c.text;
        EXPECT_EQ(float_text(std::get<double>(v.value)), c.shown) << c.text;
    }
}

TEST(JsonReader, FloatTextIsShortestInPlainOrExponentForm) {
    struct F {
        double value;
        const char* text;
    };
    const F cases[] = {
        {1.5, "1.5"},
        {1000.0, "1000.0"},
        {0.00001, "0.00001"},
        {-0.0, "-0.0"},
        {0.0, "0.0"},
        {1e15, "1000000000000000.0"},
        {1e16, "1e+16"},
        {1.5e-7, "1.5e-7"},
        {1e-6, "1e-6"},
        {1e100, "1e+100"},
        {18446744073709551616.0, "1.8446744073709552e+19"},
        {0.1, "0.1"},
        {-123.456, "-123.456"},
        {5e-324, "5e-324"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
    };
    for (const auto& c : cases) EXPECT_EQ(float_text(c.value), c.text);
}

TEST(JsonReader, StringEscapesDecode) {
    using V = JsonContent::Variant;
    EXPECT_EQ(content_of(R"("a\"\\\/\b\f\n\r\tz")").value, V(std::string("a\"\\/\b\f\n\r\tz")));
    EXPECT_EQ(content_of(R"("\u00e9\u00E9")").value, V(std::string("\xC3\xA9\xC3\xA9")));
    EXPECT_EQ(content_of(R"("\uD83D\uDE00")").value, V(std::string("\xF0\x9F\x98\x80")));
    EXPECT_EQ(content_of(R"("\u0000")").value, V(std::string(1, '\0')));
    // Keys are decoded too, and repeated keys are kept in text order.
    const JsonContent obj = content_of(R"({"\u0061":1,"a":2})");
    const auto& members = std::get<JsonContent::Object>(obj.value);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].first, "a");
    EXPECT_EQ(members[1].first, "a");
}

std::string nested_arrays(int n) { return std::string(n, '[') + std::string(n, ']'); }

TEST(JsonReader, NestingBudgetAllows127OpenAndFailsThe128th) {
    EXPECT_EQ(read_any(nested_arrays(127)), "ok");
    EXPECT_EQ(read_any(nested_arrays(128)), "recursion limit exceeded at line 1 column 128");
    EXPECT_EQ(read_any("[{\"a\":" + nested_arrays(126) + "}]"),
              "recursion limit exceeded at line 1 column 132");
    // The budget is given back on every close.
    std::string wide = "[";
    for (int i = 0; i < 300; ++i) wide += nested_arrays(100) + ",";
    wide += "1]";
    EXPECT_EQ(read_any(wide), "ok");
}

TEST(JsonReader, SkipScanOfUnknownConfigKeysHasNoDepthOrRangeLimit) {
    const std::string deep = std::string(100000, '[') + "1e999" + std::string(100000, ']');
    const auto r = config_from_json("{\"x\":" + deep + ",\"nick\":\"a\"}");
    ASSERT_TRUE(r.ok()) << r.error().shown();
    EXPECT_EQ(r.value().nick, "a");
    EXPECT_EQ(config_error(R"({"x":{"a":["\uDC00",{"b":null}]},"nick":"a"})"), "ok");

    // It still judges the grammar, with the same texts and positions.
    const Case cases[] = {
        {R"({"x":[1,]})", "trailing comma at line 1 column 9"},
        {R"({"x":{"a":1,}})", "trailing comma at line 1 column 13"},
        {R"({"x":[1 2]})", "expected `,` or `]` at line 1 column 9"},
        {R"({"x":{"a" 1}})", "expected `:` at line 1 column 11"},
        {R"({"x":{1:1}})", "key must be a string at line 1 column 7"},
        {R"({"x":[01]})", "invalid number at line 1 column 8"},
        {R"({"x":"\q"})", "invalid escape at line 1 column 8"},
        {R"({"x":"\u00G0"})", "invalid escape at line 1 column 12"},
        {R"({"x":nul})", "expected ident at line 1 column 9"},
        {R"({"x":[)", "EOF while parsing a list at line 1 column 6"},
        {R"({"x":{"a":1,)", "EOF while parsing a value at line 1 column 12"},
        {R"({"x":[1,)", "EOF while parsing a value at line 1 column 8"},
        {R"({"x":%})", "expected value at line 1 column 6"},
    };
    for (const auto& c : cases) EXPECT_EQ(config_error(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace tessel
