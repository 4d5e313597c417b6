// Reading a Signal from the host: the whole-text road and the buffered-value road, with their
// envelopes, field checks, error texts and positions.
#include <gtest/gtest.h>

#include <string>

#include "tessel_client/formats/json_reader.hpp"
#include "tessel_client/voice/signal_reader.hpp"

namespace tessel {
namespace {

std::string text_road(std::string_view text, Signal* out = nullptr) {
    auto result = signal_from_json(text);
    if (!result) return result.error().shown();
    if (out != nullptr) *out = result.value();
    return "ok";
}

std::string content_road(std::string_view text, Signal* out = nullptr) {
    JsonReader r(text);
    JsonContent v;
    EXPECT_TRUE(r.read_content(v) && r.finish()) << text;
    Signal s;
    std::string error;
    if (!Signal::deserialize(v, s, error)) return error;
    if (out != nullptr) *out = s;
    return "ok";
}

const char* const kUnknown =
    "expected one of `join`, `leave`, `joined`, `offer`, `answer`, `ice`, `presence`, `mic`, `video`, `screen`, "
    "`hand`, `deaf`, `speaking`, `silent`, `react`, `promote`, `demote`, `role`, `error`";

TEST(SignalReader, BothFormsAndBothRoadsGiveTheSameFrames) {
    const struct {
        const char* text;
        Signal signal;
    } cases[] = {
        {R"({"type":"join","channel":"#a"})", {Signal::Join{"#a"}}},
        {R"({"channel":"#a","type":"join"})", {Signal::Join{"#a"}}},
        {R"(["join","#a"])", {Signal::Join{"#a"}}},
        {R"({"type":"join","channel":"#a","x":1,"x":2})", {Signal::Join{"#a"}}},
        {R"({"type":"joined","members":[]})", {Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}},
        {R"({"members":["a"],"tracks":[["0","a"]],"type":"joined","mode":"stream","role":{"viewer":null},)"
         R"("streamers":[],"turn":{"urls":["turn:x"],"username":"u","password":"p"}})",
         {Signal::Joined{{"a"}, VoiceMode::Stream, VoiceRole::Viewer, std::vector<std::string>{},
                         TurnCredentials{{"turn:x"}, "u", "p"}, std::vector<TrackHint>{{"0", "a"}}}}},
        {R"(["joined",["a"],null,null,null,null,null])", {Signal::Joined{{"a"}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}},
        {R"(["offer","v=0",null,null])", {Signal::Offer{"v=0", std::nullopt, std::nullopt}}},
        {R"({"type":"offer","sdp":"v=0","chunk":{"id":"c","seq":1,"total":2}})",
         {Signal::Offer{"v=0", std::nullopt, ChunkMeta{"c", 1, 2}}}},
        {R"({"type":"answer","sdp":"s","chunk":null})", {Signal::Answer{"s", std::nullopt}}},
        {R"({"type":"ice","cand":"c","mlineidx":4294967295})", {Signal::Ice{"c", std::nullopt, 4294967295u}}},
        {R"({"type":"ice","cand":"c","mid":"0","mlineidx":null})", {Signal::Ice{"c", "0", std::nullopt}}},
        {R"(["presence","m","deaf_on","video","publisher"])",
         {Signal::Presence{"m", PresenceState::DeafOn, MediaKind::Video, VoiceRole::Publisher}}},
        {R"({"type":"mic","state":"off"})", {Signal::Mic{ToggleState::Off}}},
        {R"(["deaf",{"on":{}}])", {Signal::Deaf{ToggleState::On}}},
        {R"({"type":"speaking","state":"on"})", {Signal::Speaking{}}},
        {R"(["silent"])", {Signal::Silent{}}},
        {R"({"type":"react","emoji":"x"})", {Signal::React{std::nullopt, "x"}}},
        {R"({"type":"demote","target":"n"})", {Signal::Demote{"n"}}},
        {R"(["role","m","viewer"])", {Signal::Role{"m", VoiceRole::Viewer}}},
        {R"({"type":"error"})", {Signal::Error{std::nullopt}}},
        {R"(["error",null])", {Signal::Error{std::nullopt}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Signal got;
        EXPECT_EQ(text_road(c.text, &got), "ok");
        EXPECT_EQ(got, c.signal);
        got = Signal{};
        EXPECT_EQ(content_road(c.text, &got), "ok");
        EXPECT_EQ(got, c.signal);
    }
}

TEST(SignalReader, TextRoadErrorsAndTheirPositions) {
    const struct {
        const char* text;
        std::string error;
    } cases[] = {
        // The envelope: positioned.
        {"", "EOF while parsing a value at line 1 column 0"},
        {"null", "invalid type: null, expected internally tagged enum Signal at line 1 column 4"},
        {R"("{\"type\":\"speaking\"}")",
         R"(invalid type: string "{\"type\":\"speaking\"}", expected internally tagged enum Signal at line 1 column 25)"},
        {"x", "expected value at line 1 column 1"},
        {R"({"channel":"#a"})", "missing field `type` at line 1 column 16"},
        {"{}", "missing field `type` at line 1 column 2"},
        {"[]", "missing field `type` at line 1 column 2"},
        {R"({"type":"join","type":"join","channel":"#a"})", "duplicate field `type` at line 1 column 21"},
        {R"({"type":"Join","channel":"#a"})", std::string("unknown variant `Join`, ") + kUnknown + " at line 1 column 14"},
        {R"({"type":12})", "invalid type: integer `12`, expected variant identifier at line 1 column 10"},
        // The tag is judged before anything after it, even broken syntax.
        {R"({"type":"nope",)", std::string("unknown variant `nope`, ") + kUnknown + " at line 1 column 14"},
        {R"({"type":"join","channel":"#a"} x)", "trailing characters at line 1 column 32"},
        {R"({"type":"join","x":[1,]})", "trailing comma at line 1 column 23"},
        // The fields: no position, and checked before the trailing text.
        {R"({"type":"join"} x)", "missing field `channel`"},
        {R"({"type":"join"})", "missing field `channel`"},
        {R"({"type":"join","channel":"#a","channel":"#b"})", "duplicate field `channel`"},
        {R"({"type":"join","channel":5,"channel":"#b"})", "invalid type: integer `5`, expected a string"},
        {R"({"type":"join","channel":null})", "invalid type: null, expected a string"},
        {R"({"type":"role","role":"viewer"})", "missing field `member`"},
        {R"({"type":"role"})", "missing field `member`"},
        {R"({"type":"presence","member":"m"})", "missing field `state`"},
        {R"({"type":"presence","member":"m","state":"deaf-on"})",
         "unknown variant `deaf-on`, expected one of `joined`, `left`, `on`, `off`, `speaking`, `silent`, "
         "`deaf_on`, `deaf_off`"},
        {R"({"type":"mic","state":"ON"})", "unknown variant `ON`, expected `on` or `off`"},
        {R"({"type":"ice","cand":"c","mlineidx":4294967296})", "invalid value: integer `4294967296`, expected u32"},
        {R"({"type":"ice","cand":"c","mlineidx":-1})", "invalid value: integer `-1`, expected u32"},
        {R"({"type":"ice","cand":"c","mlineidx":1.5})", "invalid type: floating point `1.5`, expected u32"},
        {R"({"type":"joined","members":"m1"})", R"(invalid type: string "m1", expected a sequence)"},
        {R"({"type":"joined","members":["a",1]})", "invalid type: integer `1`, expected a string"},
        {R"({"type":"joined","members":[],"tracks":{"mid":"0","member":"a"}})", "invalid type: map, expected a sequence"},
        {R"({"type":"joined","members":[],"turn":{"urls":[],"username":"u"}})", "missing field `password`"},
        {R"({"type":"offer","sdp":"s","chunk":{"id":"x","seq":1}})", "missing field `total`"},
        {R"(["speaking","on"])", "invalid length 1, expected 0 elements in sequence"},
        {R"(["join"])", "invalid length 0, expected struct variant Signal::Join with 1 element"},
        {R"(["join","#a","x"])", "invalid length 2, expected 1 element in sequence"},
        {R"(["error"])", "invalid length 0, expected struct variant Signal::Error with 1 element"},
        {R"(["offer","v=0"])", "invalid length 1, expected struct variant Signal::Offer with 3 elements"},
        {R"(["joined",[],null])", "invalid length 2, expected struct variant Signal::Joined with 6 elements"},
        {R"(["presence","m","on",null,null,1])", "invalid length 5, expected 4 elements in sequence"},
        // A bad element is reported before the missing ones after it.
        {R"(["presence",5])", "invalid type: integer `5`, expected a string"},
    };
    for (const auto& c : cases) EXPECT_EQ(text_road(c.text), c.error) << c.text;
}

TEST(SignalReader, NestingCountsFromTheFrameItself) {
    // The frame's object is the first of 127 levels that may be open at once.
    const auto nested = [](int depth) {
        return R"({"type":"speaking","x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
    };
    EXPECT_EQ(text_road(nested(126)), "ok");
    EXPECT_EQ(text_road(nested(127)), "recursion limit exceeded at line 1 column 150");
}

TEST(SignalReader, CommandRoadTakesAnIndexAndGivesNoPositions) {
    Signal got;
    EXPECT_EQ(content_road(R"({"type":12})", &got), "ok");
    EXPECT_EQ(got, Signal{Signal::Speaking{}});
    EXPECT_EQ(content_road(R"([0,"#a"])", &got), "ok");
    EXPECT_EQ(got, Signal{Signal::Join{"#a"}});

    const struct {
        const char* text;
        std::string error;
    } cases[] = {
        {R"({"type":19})", "invalid value: integer `19`, expected variant index 0 <= i < 19"},
        {R"({"type":18446744073709551615})",
         "invalid value: integer `18446744073709551615`, expected variant index 0 <= i < 19"},
        {R"({"type":-1})", "invalid type: integer `-1`, expected variant identifier"},
        {R"({"type":1.0})", "invalid type: floating point `1.0`, expected variant identifier"},
        {R"({"type":null})", "invalid type: null, expected variant identifier"},
        {R"({"type":"Join"})", std::string("unknown variant `Join`, ") + kUnknown},
        {R"({"type":"join","type":"x"})", "duplicate field `type`"},
        {R"({"channel":"#a"})", "missing field `type`"},
        {"[]", "missing field `type`"},
        {R"("{\"type\":\"speaking\"}")",
         R"(invalid type: string "{\"type\":\"speaking\"}", expected internally tagged enum Signal)"},
        {"7", "invalid type: integer `7`, expected internally tagged enum Signal"},
        {R"({"type":"join"})", "missing field `channel`"},
        {R"(["join","#a","x"])", "invalid length 2, expected 1 element in sequence"},
    };
    for (const auto& c : cases) EXPECT_EQ(content_road(c.text), c.error) << c.text;
}

}  // namespace
}  // namespace tessel
