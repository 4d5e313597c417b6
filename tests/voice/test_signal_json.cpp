// The host form of a Signal: the writer's exact texts, and the readers of its parts and words.
#include <gtest/gtest.h>

#include <string>

#include "tessel_client/formats/json_reader.hpp"
#include "tessel_client/voice/signal.hpp"

namespace tessel {
namespace {

std::string json_of(Signal s) {
    std::string out;
    signal_to_json(s, out);
    return out;
}

JsonContent content_of(std::string_view text) {
    JsonReader r(text);
    JsonContent v;
    EXPECT_TRUE(r.read_content(v) && r.finish()) << text;
    return v;
}

// Runs one reader over the value of `text`: "ok" or its message.
template <class T, class Read>
std::string read_error(std::string_view text, Read read, T* out = nullptr) {
    JsonContent v = content_of(text);
    T value{};
    std::string error;
    if (!read(v, value, error)) return error;
    if (out != nullptr) *out = value;
    return "ok";
}

TEST(SignalJson, EveryVariantWritesItsMembersInOrder) {
    const TrackHint t{"0", "m1"};
    const struct {
        Signal signal;
        const char* json;
    } cases[] = {
        {{Signal::Join{"#a"}}, R"({"type":"join","channel":"#a"})"},
        {{Signal::Leave{"#a"}}, R"({"type":"leave","channel":"#a"})"},
        {{Signal::Joined{}}, R"({"type":"joined","members":[],"mode":null,"role":null,"streamers":null,"turn":null,"tracks":null})"},
        {{Signal::Joined{{"a", "b"}, VoiceMode::Stream, VoiceRole::Viewer, std::vector<std::string>{},
                         TurnCredentials{{}, "u", "p"}, std::vector<TrackHint>{}}},
         R"({"type":"joined","members":["a","b"],"mode":"stream","role":"viewer","streamers":[],)"
         R"("turn":{"urls":[],"username":"u","password":"p"},"tracks":[]})"},
        {{Signal::Offer{"v=0\r\n", std::vector<TrackHint>{t, t}, ChunkMeta{"c", 0, 4294967295u}}},
         R"({"type":"offer","sdp":"v=0\r\n","tracks":[{"mid":"0","member":"m1"},{"mid":"0","member":"m1"}],)"
         R"("chunk":{"id":"c","seq":0,"total":4294967295}})"},
        {{Signal::Answer{"s", std::nullopt}}, R"({"type":"answer","sdp":"s","chunk":null})"},
        {{Signal::Ice{"c", std::nullopt, std::nullopt}}, R"({"type":"ice","cand":"c","mid":null,"mlineidx":null})"},
        {{Signal::Ice{"c", "0", 0}}, R"({"type":"ice","cand":"c","mid":"0","mlineidx":0})"},
        {{Signal::Ice{"c", "0", 4294967295u}}, R"({"type":"ice","cand":"c","mid":"0","mlineidx":4294967295})"},
        {{Signal::Presence{"m1", PresenceState::DeafOn, std::nullopt, std::nullopt}},
         R"({"type":"presence","member":"m1","state":"deaf_on","kind":null,"role":null})"},
        {{Signal::Presence{"m1", PresenceState::DeafOff, MediaKind::Screen, VoiceRole::Publisher}},
         R"({"type":"presence","member":"m1","state":"deaf_off","kind":"screen","role":"publisher"})"},
        {{Signal::Mic{ToggleState::On}}, R"({"type":"mic","state":"on"})"},
        {{Signal::Video{ToggleState::Off}}, R"({"type":"video","state":"off"})"},
        {{Signal::Screen{ToggleState::On}}, R"({"type":"screen","state":"on"})"},
        {{Signal::Hand{ToggleState::Off}}, R"({"type":"hand","state":"off"})"},
        {{Signal::Deaf{ToggleState::On}}, R"({"type":"deaf","state":"on"})"},
        {{Signal::Speaking{}}, R"({"type":"speaking"})"},
        {{Signal::Silent{}}, R"({"type":"silent"})"},
        {{Signal::React{std::nullopt, "\xF0\x9F\x91\x8D"}}, "{\"type\":\"react\",\"member\":null,\"emoji\":\"\xF0\x9F\x91\x8D\"}"},
        {{Signal::Promote{"n"}}, R"({"type":"promote","target":"n"})"},
        {{Signal::Demote{"n"}}, R"({"type":"demote","target":"n"})"},
        {{Signal::Role{"m", VoiceRole::Viewer}}, R"({"type":"role","member":"m","role":"viewer"})"},
        {{Signal::Error{std::nullopt}}, R"({"type":"error","error":null})"},
        {{Signal::Error{"bad \"x\""}}, R"({"type":"error","error":"bad \"x\""})"},
    };
    for (const auto& c : cases) EXPECT_EQ(json_of(c.signal), c.json);
}

TEST(SignalJson, WordReadersTakeAStringOrASingleKeyMap) {
    const auto toggle = [](JsonContent& v, ToggleState& out, std::string& e) { return deserialize(v, out, e); };
    const struct {
        const char* text;
        const char* result;
    } cases[] = {
        {R"("on")", "ok"},
        {R"({"on":null})", "ok"},
        {R"({"on":{}})", "ok"},
        {R"("On")", "unknown variant `On`, expected `on` or `off`"},
        {R"({"on":0})", "invalid type: integer `0`, expected unit"},
        {R"({"on":{"a":1}})", "invalid type: map, expected unit"},
        {R"({})", "invalid value: map, expected map with a single key"},
        {R"({"on":null,"off":null})", "invalid value: map, expected map with a single key"},
        {R"({"on":null,"on":null})", "invalid value: map, expected map with a single key"},
        {R"({"x":0})", "unknown variant `x`, expected `on` or `off`"},  // the word before the value
        {"0", "invalid type: integer `0`, expected string or map"},
        {"null", "invalid type: null, expected string or map"},
        {R"(["on"])", "invalid type: sequence, expected string or map"},
    };
    for (const auto& c : cases) {
        ToggleState out = ToggleState::Off;
        EXPECT_EQ(read_error<ToggleState>(c.text, toggle, &out), c.result) << c.text;
        if (std::string(c.result) == "ok") {
            EXPECT_EQ(out, ToggleState::On) << c.text;
        }
    }

    PresenceState state{};
    const auto presence = [](JsonContent& v, PresenceState& out, std::string& e) { return deserialize(v, out, e); };
    EXPECT_EQ(read_error<PresenceState>(R"("deaf_off")", presence, &state), "ok");
    EXPECT_EQ(state, PresenceState::DeafOff);
    EXPECT_EQ(read_error<PresenceState>(R"("deaf-on")", presence),
              "unknown variant `deaf-on`, expected one of `joined`, `left`, `on`, `off`, `speaking`, `silent`, "
              "`deaf_on`, `deaf_off`");
    const auto kind = [](JsonContent& v, MediaKind& out, std::string& e) { return deserialize(v, out, e); };
    EXPECT_EQ(read_error<MediaKind>(R"("Mic")", kind),
              "unknown variant `Mic`, expected one of `mic`, `video`, `screen`, `hand`");
    const auto role = [](JsonContent& v, VoiceRole& out, std::string& e) { return deserialize(v, out, e); };
    EXPECT_EQ(read_error<VoiceRole>(R"("admin")", role), "unknown variant `admin`, expected `publisher` or `viewer`");
    const auto mode = [](JsonContent& v, VoiceMode& out, std::string& e) { return deserialize(v, out, e); };
    VoiceMode m{};
    EXPECT_EQ(read_error<VoiceMode>(R"({"stream":{}})", mode, &m), "ok");
    EXPECT_EQ(m, VoiceMode::Stream);
    EXPECT_EQ(read_error<VoiceMode>("1", mode), "invalid type: integer `1`, expected string or map");
}

TEST(SignalJson, PartReadersTakeObjectOrArray) {
    const TrackHint expected{"0", "m1"};
    TrackHint got;
    EXPECT_EQ(read_error<TrackHint>(R"({"mid":"0","member":"m1","extra":1})", TrackHint::deserialize, &got), "ok");
    EXPECT_EQ(got, expected);
    EXPECT_EQ(read_error<TrackHint>(R"(["0","m1"])", TrackHint::deserialize, &got), "ok");
    EXPECT_EQ(got, expected);

    const struct {
        const char* text;
        const char* error;
    } tracks[] = {
        {R"(["0"])", "invalid length 1, expected struct TrackHint with 2 elements"},
        {R"(["0","m1","x"])", "invalid length 3, expected 2 elements in sequence"},
        {R"({"mid":"0"})", "missing field `member`"},
        {R"({})", "missing field `mid`"},
        {R"({"mid":"0","mid":"1","member":"m1"})", "duplicate field `mid`"},
        {R"({"mid":5,"mid":"1"})", "invalid type: integer `5`, expected a string"},
        {"5", "invalid type: integer `5`, expected struct TrackHint"},
        {R"([1,"m1"])", "invalid type: integer `1`, expected a string"},
    };
    for (const auto& c : tracks) EXPECT_EQ(read_error<TrackHint>(c.text, TrackHint::deserialize), c.error) << c.text;

    std::vector<TrackHint> list;
    EXPECT_EQ(read_error<std::vector<TrackHint>>(R"([["0","m1"],{"member":"m1","mid":"0"}])", deserialize_tracks, &list), "ok");
    EXPECT_EQ(list, (std::vector<TrackHint>{expected, expected}));
    EXPECT_EQ(read_error<std::vector<TrackHint>>("[]", deserialize_tracks, &list), "ok");
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(read_error<std::vector<TrackHint>>(R"({"mid":"0","member":"m1"})", deserialize_tracks),
              "invalid type: map, expected a sequence");
    EXPECT_EQ(read_error<std::vector<TrackHint>>(R"([["0","m1"],["0"]])", deserialize_tracks),
              "invalid length 1, expected struct TrackHint with 2 elements");

    TurnCredentials turn;
    EXPECT_EQ(read_error<TurnCredentials>(R"({"urls":["turn:a","turn:b"],"username":"u","password":"p"})",
                                          TurnCredentials::deserialize, &turn),
              "ok");
    EXPECT_EQ(turn, (TurnCredentials{{"turn:a", "turn:b"}, "u", "p"}));
    EXPECT_EQ(read_error<TurnCredentials>(R"([[],"u","p"])", TurnCredentials::deserialize, &turn), "ok");
    EXPECT_TRUE(turn.urls.empty());
    const struct {
        const char* text;
        const char* error;
    } turns[] = {
        {R"({"urls":"turn:a","username":"u","password":"p"})",
         "invalid type: string \"turn:a\", expected a sequence"},
        {R"({"urls":["turn:a",1],"username":"u","password":"p"})", "invalid type: integer `1`, expected a string"},
        {R"({"urls":[],"username":"u"})", "missing field `password`"},
        {R"([[],"u1"])", "invalid length 2, expected struct TurnCredentials with 3 elements"},
        {R"([[],"u","p",1])", "invalid length 4, expected 3 elements in sequence"},
        {"true", "invalid type: boolean `true`, expected struct TurnCredentials"},
    };
    for (const auto& c : turns) EXPECT_EQ(read_error<TurnCredentials>(c.text, TurnCredentials::deserialize), c.error) << c.text;

    ChunkMeta chunk;
    EXPECT_EQ(read_error<ChunkMeta>(R"(["x",1,2])", ChunkMeta::deserialize, &chunk), "ok");
    EXPECT_EQ(chunk, (ChunkMeta{"x", 1, 2}));
    EXPECT_EQ(read_error<ChunkMeta>(R"({"id":"x","seq":4294967295,"total":0})", ChunkMeta::deserialize, &chunk), "ok");
    EXPECT_EQ(chunk.seq, 4294967295u);
    const struct {
        const char* text;
        const char* error;
    } chunks[] = {
        {R"({"id":"x","seq":4294967296,"total":0})", "invalid value: integer `4294967296`, expected u32"},
        {R"({"id":"x","seq":-1,"total":0})", "invalid value: integer `-1`, expected u32"},
        {R"({"id":"x","seq":1.5,"total":0})", "invalid type: floating point `1.5`, expected u32"},
        {R"({"id":"x","seq":1e0,"total":0})", "invalid type: floating point `1.0`, expected u32"},
        {R"({"id":"x","seq":"1","total":0})", "invalid type: string \"1\", expected u32"},
        {R"({"id":"x","seq":1})", "missing field `total`"},
        {R"(["x",1])", "invalid length 2, expected struct ChunkMeta with 3 elements"},
        {"[]", "invalid length 0, expected struct ChunkMeta with 3 elements"},
    };
    for (const auto& c : chunks) EXPECT_EQ(read_error<ChunkMeta>(c.text, ChunkMeta::deserialize), c.error) << c.text;
}

}  // namespace
}  // namespace tessel
