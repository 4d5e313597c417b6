// The wire form of a Signal: exact written texts that read back to the same frame, and the
// lenient reading of what other clients send.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tessel_client/voice/signal_wire.hpp"

namespace tessel {
namespace {

TEST(SignalWire, WritesTheWireFormAndReadsItBack) {
    const std::vector<TrackHint> tracks = {{"0", "m1"}, {"1", "m2"}};
    const struct {
        Signal signal;
        const char* wire;
    } cases[] = {
        {{Signal::Join{"#a"}}, R"({"type":"join","channel":"#a"})"},
        {{Signal::Leave{""}}, R"({"type":"leave","channel":""})"},
        {{Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}, R"({"type":"joined","members":[]})"},
        {{Signal::Joined{{"a", "b"}, VoiceMode::Publish, VoiceRole::Publisher, std::vector<std::string>{"a"},
                         TurnCredentials{{}, "u", "p"}, std::vector<TrackHint>{}}},
         R"({"type":"joined","members":["a","b"],"mode":"voice","role":"streamer","streamers":["a"],)"
         R"("turn":{"urls":[],"username":"u","password":"p"},"tracks":[]})"},
        {{Signal::Offer{"v=0\r\na=x", tracks, ChunkMeta{"c", 0, 4294967295u}}},
         R"({"type":"offer","sdp":"v=0\r\na=x","tracks":[{"mid":"0","member":"m1"},{"mid":"1","member":"m2"}],)"
         R"("id":"c","seq":0,"total":4294967295})"},
        {{Signal::Answer{"s", ChunkMeta{"c", 2, 3}}}, R"({"type":"answer","sdp":"s","id":"c","seq":2,"total":3})"},
        {{Signal::Answer{"s", std::nullopt}}, R"({"type":"answer","sdp":"s"})"},
        {{Signal::Ice{"c", "0", 0}}, R"({"type":"ice","cand":"c","mid":"0","mlineidx":0})"},
        {{Signal::Ice{"c", std::nullopt, std::nullopt}}, R"({"type":"ice","cand":"c"})"},
        {{Signal::Presence{"m1", PresenceState::DeafOn, std::nullopt, std::nullopt}}, R"({"type":"presence","member":"m1","state":"deaf-on"})"},
        {{Signal::Presence{"m1", PresenceState::On, MediaKind::Screen, VoiceRole::Viewer}},
         R"({"type":"presence","member":"m1","state":"on","kind":"screen","role":"viewer"})"},
        {{Signal::Mic{ToggleState::On}}, R"({"type":"mic","state":"on"})"},
        {{Signal::Video{ToggleState::Off}}, R"({"type":"video","state":"off"})"},
        {{Signal::Screen{ToggleState::On}}, R"({"type":"screen","state":"on"})"},
        {{Signal::Hand{ToggleState::Off}}, R"({"type":"hand","state":"off"})"},
        {{Signal::Deaf{ToggleState::On}}, R"({"type":"deaf","state":"on"})"},
        {{Signal::Speaking{}}, R"({"type":"speaking","state":"speaking"})"},
        {{Signal::Silent{}}, R"({"type":"silent","state":"silent"})"},
        {{Signal::React{"m", "\xF0\x9F\x91\x8D"}}, "{\"type\":\"react\",\"member\":\"m\",\"emoji\":\"\xF0\x9F\x91\x8D\"}"},
        {{Signal::React{std::nullopt, "x"}}, R"({"type":"react","emoji":"x"})"},
        {{Signal::Promote{"n"}}, R"({"type":"promote","target":"n"})"},
        {{Signal::Demote{"n"}}, R"({"type":"demote","target":"n"})"},
        {{Signal::Role{"m", VoiceRole::Publisher}}, R"({"type":"role","member":"m","role":"streamer"})"},
        {{Signal::Error{std::nullopt}}, R"({"type":"error"})"},
        {{Signal::Error{"q\"b\\s/\x01\x7F"}}, "{\"type\":\"error\",\"error\":\"q\\\"b\\\\s/\\u0001\x7F\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wire);
        EXPECT_EQ(signal_to_wire(c.signal), c.wire);
        EXPECT_EQ(signal_from_wire(c.wire), std::optional<Signal>(c.signal));
    }
}

TEST(SignalWire, ReadsLenientlyAndRejectsWhatItMust) {
    using S = std::optional<Signal>;
    const S rejected;
    const struct {
        const char* wire;
        S signal;
    } cases[] = {
        // Text around the object.
        {" \t\r\n{\"type\":\"speaking\"}\r\n ", Signal{Signal::Speaking{}}},
        {R"({"type":"speaking"} x)", rejected},
        {R"({"type":"speaking"}{})", rejected},
        {"\f{\"type\":\"speaking\"}", rejected},
        {R"(["speaking"])", rejected},
        {R"("speaking")", rejected},
        {"5", rejected},
        {"{}", rejected},
        {"", rejected},
        {R"({"type":"speaking")", rejected},
        // "type": the first one decides, byte for byte.
        {R"({"channel":"#a","type":"join"})", Signal{Signal::Join{"#a"}}},
        {R"({"type":"Join","channel":"#a"})", rejected},
        {R"({"type":3,"channel":"#a"})", rejected},
        {R"({"type":"join","type":"nope","channel":"#a"})", Signal{Signal::Join{"#a"}}},
        {R"({"type":"nope","type":"join","channel":"#a"})", rejected},
        // Required keys: the first occurrence, of the right kind.
        {R"({"type":"join","channel":5,"channel":"#b"})", rejected},
        {R"({"type":"join","channel":"#a","channel":"#b"})", Signal{Signal::Join{"#a"}}},
        {R"({"type":"mic"})", rejected},
        {R"({"type":"mic","state":"ON"})", rejected},
        {R"({"type":"mic","state":""})", rejected},
        {R"({"type":"speaking","state":5})", Signal{Signal::Speaking{}}},
        {R"({"type":"presence","member":"m","state":"deaf_on"})", rejected},
        {R"({"type":"role","member":"m","role":"publisher"})", rejected},
        {R"({"type":"react","member":"m"})", rejected},
        {R"({"type":"joined","members":["a",1]})", rejected},
        {R"({"type":"joined"})", rejected},
        // Optional keys: a bad value only leaves the field absent.
        {R"({"type":"error","error":5})", Signal{Signal::Error{std::nullopt}}},
        {R"({"type":"presence","member":"m","state":"on","kind":"tv","role":"publisher"})",
         Signal{Signal::Presence{"m", PresenceState::On, std::nullopt, std::nullopt}}},
        {R"({"type":"joined","members":[],"mode":"publish","role":"viewer","streamers":["a",2]})",
         Signal{Signal::Joined{{}, std::nullopt, VoiceRole::Viewer, std::nullopt, std::nullopt, std::nullopt}}},
        {R"({"type":"joined","members":[],"turn":{"urls":"turn:a","username":"u","password":"p","x":1}})",
         Signal{Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, TurnCredentials{{"turn:a"}, "u", "p"}, std::nullopt}}},
        {R"({"type":"joined","members":[],"turn":{"urls":["turn:a"],"username":"u"}})", Signal{Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}},
        {R"({"type":"joined","members":[],"turn":{"urls":[1],"username":"u","password":"p"}})", Signal{Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}},
        {R"({"type":"joined","members":[],"turn":{}})", Signal{Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}},
        {R"({"type":"joined","members":[],"turn":"x"})", Signal{Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}},
        {R"({"type":"joined","members":[],"tracks":[{"mid":"0","member":"a"},{"mid":"1"}]})", Signal{Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt}}},
        {R"({"type":"joined","members":[],"tracks":[{"member":"a","x":[],"mid":"0","mid":5}]})",
         Signal{Signal::Joined{{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::vector<TrackHint>{{"0", "a"}}}}},
        {R"({"type":"offer","sdp":"s","id":"c","seq":1})", Signal{Signal::Offer{"s", std::nullopt, std::nullopt}}},
        {R"({"type":"offer","sdp":"s","id":"c","seq":4294967296,"total":1})", Signal{Signal::Offer{"s", std::nullopt, std::nullopt}}},
        {R"({"type":"offer","sdp":"s","id":"c","seq":-1,"total":1})", Signal{Signal::Offer{"s", std::nullopt, std::nullopt}}},
        {R"({"type":"offer","sdp":"s","id":"c","seq":7.9,"total":2e3})",
         Signal{Signal::Offer{"s", std::nullopt, ChunkMeta{"c", 7, 2}}}},
        {R"({"type":"offer","sdp":"s","id":"c","seq":99999999999999999999,"total":1})", rejected},
        {R"({"type":"ice","cand":"c","mid":0,"mlineidx":"0"})", Signal{Signal::Ice{"c", std::nullopt, std::nullopt}}},
        {R"({"type":"ice","cand":"c","mlineidx":-0.5})", Signal{Signal::Ice{"c", std::nullopt, 0}}},
        // Escapes inside strings.
        {R"({"type":"join","channel":"\ud83d\ude00\n\/"})", Signal{Signal::Join{"\xF0\x9F\x98\x80\n/"}}},
        {R"({"type":"join","channel":"\ude00"})", rejected},
        {R"({"type":"join","channel":"\x"})", rejected},
    };
    for (const auto& c : cases) EXPECT_EQ(signal_from_wire(c.wire), c.signal) << c.wire;
}

TEST(SignalWire, DeepNestingIsRejectedNotRecursedInto) {
    std::string deep = R"({"type":"speaking","x":)";
    deep += std::string(100000, '[');
    EXPECT_FALSE(signal_from_wire(deep));
    // The levels a frame needs are well inside the bound.
    EXPECT_TRUE(signal_from_wire(R"({"type":"joined","members":[],"tracks":[{"mid":"0","member":"a","x":[[{}]]}]})"));
}

}  // namespace
}  // namespace tessel
