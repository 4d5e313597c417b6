// A tagged union nested in kept content: the tag found in a buffered object or array.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tessel_client/formats/json_reader.hpp"
#include "tessel_client/formats/kept_record.hpp"

namespace tessel {
namespace {

constexpr std::array<std::string_view, 3> kWords = {"a", "b", "c"};

std::string split(std::string_view text, bool allow_index, std::size_t* variant = nullptr, JsonContent* kept = nullptr) {
    JsonReader r(text);
    JsonContent value;
    EXPECT_TRUE(r.read_content(value) && r.finish()) << text;
    std::size_t v = 0;
    JsonContent rest;
    std::string error;
    if (!split_tagged_content(value, "internally tagged enum U", "type", kWords, allow_index, v, rest, error))
        return error;
    if (variant != nullptr) *variant = v;
    if (kept != nullptr) *kept = std::move(rest);
    return "ok";
}

TEST(TaggedContent, TagAnywhereRestKeptInOrder) {
    std::size_t variant = 9;
    JsonContent kept;
    EXPECT_EQ(split(R"({"x":1,"type":"b","y":2,"x":3})", false, &variant, &kept), "ok");
    EXPECT_EQ(variant, 1u);
    const auto& members = std::get<JsonContent::Object>(kept.value);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].first + members[1].first + members[2].first, "xyx");
    EXPECT_EQ(split(R"(["c",1,2])", false, &variant, &kept), "ok");
    EXPECT_EQ(variant, 2u);
    EXPECT_EQ(std::get<JsonContent::Array>(kept.value).size(), 2u);
    EXPECT_EQ(split(R"({"type":2})", true, &variant), "ok");
    EXPECT_EQ(variant, 2u);
}

TEST(TaggedContent, Faults) {
    const struct {
        const char* text;
        bool allow_index;
        const char* error;
    } cases[] = {
        {"{}", false, "missing field `type`"},
        {"[]", false, "missing field `type`"},
        {R"({"type":"a","type":5})", false, "duplicate field `type`"},
        {R"({"type":"A"})", false, "unknown variant `A`, expected one of `a`, `b`, `c`"},
        {R"({"type":1})", false, "invalid type: integer `1`, expected variant identifier"},
        {R"({"type":3})", true, "invalid value: integer `3`, expected variant index 0 <= i < 3"},
        {R"({"type":-1})", true, "invalid type: integer `-1`, expected variant identifier"},
        {R"([1.0])", true, "invalid type: floating point `1.0`, expected variant identifier"},
        {R"("{\"type\":\"a\"}")", false,
         R"(invalid type: string "{\"type\":\"a\"}", expected internally tagged enum U)"},
        {"null", false, "invalid type: null, expected internally tagged enum U"},
    };
    for (const auto& c : cases) EXPECT_EQ(split(c.text, c.allow_index), c.error) << c.text;
}

}  // namespace
}  // namespace tessel
