#include <gtest/gtest.h>

#include "tessel_client/protocol/json_value.hpp"

namespace tessel {
namespace {

using Array = JsonValue::Array;
using Object = JsonValue::Object;

std::string written(const JsonValue& v) {
    std::string out;
    v.write(out);
    return out;
}

JsonValue num(std::int64_t n) { return JsonValue(n); }
JsonValue str(std::string s) { return JsonValue(std::move(s)); }

TEST(JsonValue, ReadsValues) {
    struct Case {
        std::string text;
        JsonValue value;
    };
    const Case cases[] = {
        {"[1,true,null]", JsonValue(Array{num(1), JsonValue(true), JsonValue()})},
        {" \t\r\n[ 1 ,\n true ,\r\n null ]\t", JsonValue(Array{num(1), JsonValue(true), JsonValue()})},
        {"{}", JsonValue(Object{})},
        {"[]", JsonValue(Array{})},
        {"[ ]", JsonValue(Array{})},
        {"{\"a\":1, \"a\" : 2}", JsonValue(Object{{"a", num(1)}, {"a", num(2)}})},
        {"{\"k\":[{\"x\":false}],\"s\":\"v\"}",
         JsonValue(Object{{"k", JsonValue(Array{JsonValue(Object{{"x", JsonValue(false)}})})}, {"s", str("v")}})},
        {"1.5", num(1)},
        {"-1.5", num(-1)},
        {"-0.5", num(0)},
        {"2e3", num(2)},
        {"1e400", num(1)},
        {"1E+5", num(1)},
        {"1.", num(1)},
        {"1e", num(1)},
        {"007", num(7)},
        {" 1 ", num(1)},
        {"9223372036854775807", num(INT64_MAX)},
        {"-9223372036854775808", num(INT64_MIN)},
        {"\"\\u00e9\"", str("\u00e9")},
        {"\"\\u00E9\"", str("\u00e9")},
        {"\"\\ud83d\\ude00\"", str("\U0001F600")},
        {"\"\\u0000\"", str(std::string(1, '\0'))},
        {"\"\\/\\\"\\\\\\b\\f\\n\\r\\t\"", str("/\"\\\b\f\n\r\t")},
        {"\"a\tb\"", str("a\tb")},
        {"\"h\u00e9 \U0001F600\"", str("h\u00e9 \U0001F600")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse_json_text(c.text), c.value);
    }
}

TEST(JsonValue, RefusesText) {
    for (const char* text :
         {"", "   ", "-", "-a", "+1", ".5", "[1,]", "[1 2]", "{,}", "[", "{", "{\"a\"", "{\"a\":}", "{\"a\" 1}",
          "{\"a\":1,}", "{1:2}", "tru", "True", "nul", "nullx", "1 2", "1x", "9223372036854775808",
          "-9223372036854775809", "99999999999999999999", "\"abc", "\"\\ud83d\"", "\"\\ud83dx\"", "\"\\ud83d\\u0041\"",
          "\"\\ude00\"", "\"\\x\"", "\"\\'\"", "\"\\u12\"", "\"\\u12g4\"", "\"\\", "\"\xff\"", "\"\xc3\"", "'a'"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parse_json_text(text));
    }
}

TEST(JsonValue, NestingIsLimited) {
    const int limit = JsonCursor::kMaxDepth;
    auto nested = [](int depth, const char* open, const char* close) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += open;
        s += "1";
        for (int i = 0; i < depth; ++i) s += close;
        return s;
    };
    EXPECT_TRUE(parse_json_text(nested(limit, "[", "]")));
    EXPECT_FALSE(parse_json_text(nested(limit + 1, "[", "]")));
    EXPECT_TRUE(parse_json_text(nested(limit, "{\"k\":", "}")));
    EXPECT_FALSE(parse_json_text(nested(limit + 1, "{\"k\":", "}")));
    // Hostile depth fails without exhausting the stack.
    EXPECT_FALSE(parse_json_text(std::string(1'000'000, '[')));
    // Depth is counted per level, not per container read: siblings do not add up.
    std::string wide = "[";
    for (int i = 0; i < 200; ++i) wide += std::string(i ? "," : "") + "[[1]]";
    EXPECT_TRUE(parse_json_text(wide + "]"));
}

TEST(JsonValue, ReaderStopsAfterOneValue) {
    JsonCursor r{" [1] , 2"};
    EXPECT_EQ(parse_json_value(r), JsonValue(Array{num(1)}));
    EXPECT_EQ(r.pos, 4u);
    EXPECT_EQ(r.depth, 0);

    JsonCursor s{"\"ab\"cd"};
    EXPECT_EQ(parse_json_string(s), "ab");
    EXPECT_EQ(s.pos, 4u);
    JsonCursor h{"00Af"};
    EXPECT_EQ(parse_json_hex4(h), 0x00AF);
    JsonCursor not_string{"x"};
    EXPECT_FALSE(parse_json_string(not_string));
}

TEST(JsonValue, Writes) {
    struct Case {
        JsonValue value;
        std::string text;
    };
    const Case cases[] = {
        {JsonValue(Array{num(1), JsonValue(true), JsonValue()}), "[1,true,null]"},
        {JsonValue(Object{}), "{}"},
        {JsonValue(Array{}), "[]"},
        {JsonValue(Object{{"a", num(1)}, {"a", num(2)}}), "{\"a\":1,\"a\":2}"},
        {num(-42), "-42"},
        {num(0), "0"},
        {num(INT64_MIN), "-9223372036854775808"},
        {JsonValue(false), "false"},
        {str("\t\"\\\x07/\u00e9\x1f\x7f\r\n"), "\"\\t\\\"\\\\\\u0007/\u00e9\\u001f\x7f\\r\\n\""},
        {JsonValue(Object{{"k\"", JsonValue(Array{str("")})}}), "{\"k\\\"\":[\"\"]}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(written(c.value), c.text);
        EXPECT_EQ(parse_json_text(c.text), c.value);
    }
}

TEST(JsonValue, Get) {
    const auto v = parse_json_text("{\"a\":1,\"b\":2,\"a\":3}");
    ASSERT_TRUE(v);
    ASSERT_TRUE(v->get("a"));
    EXPECT_EQ(*v->get("a")->as_number(), 1);
    EXPECT_FALSE(v->get("c"));
    EXPECT_FALSE(JsonValue(Array{}).get("a"));
}

}  // namespace
}  // namespace tessel
