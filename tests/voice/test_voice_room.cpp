// Voice rosters as an engine keeps them from the frames it receives through handle_bytes.
#include <gtest/gtest.h>

#include <string>

#include "tessel_client/voice/signal_wire.hpp"
#include "tests/engine/engine_harness.hpp"

namespace tessel::testing {
namespace {

using Events = std::vector<Event>;

// A TAGMSG line carrying `wire` (escaped for the tag) to `target`.
std::string frame_line(std::string_view target, std::string_view wire, std::string_view from = "bob") {
    std::string line = "@+vantaweb/rtc=";
    escape_tag_value(wire, line);
    line += " :";
    line += from;
    line += "!u@h TAGMSG ";
    line += target;
    return line;
}

struct VoiceHarness : Harness {
    using Harness::Harness;
    void frame(std::string_view target, std::string_view wire, std::string_view from = "bob") {
        recv(frame_line(target, wire, from));
    }
    const VoiceRoom& room(const std::string& key) {
        auto it = engine.voice_rooms.find(key);
        EXPECT_NE(it, engine.voice_rooms.end()) << key;
        static const VoiceRoom none;
        return it == engine.voice_rooms.end() ? none : it->second;
    }
    // "nick:role" for each member in key order, with the flags that are on.
    std::string roster(const std::string& key) {
        std::string out;
        for (const auto& [folded, m] : room(key).members) {
            if (!out.empty()) out += ' ';
            out += m.nick;
            out += m.role == VoiceRole::Publisher ? ":pub" : ":view";
            const std::pair<const char*, ToggleState> flags[] = {{"+mic", m.mic},   {"+video", m.video},
                                                                 {"+screen", m.screen}, {"+hand", m.hand},
                                                                 {"+speaking", m.speaking}, {"+deaf", m.deaf}};
            for (const auto& [name, state] : flags) {
                if (state == ToggleState::On) out += name;
            }
        }
        return out;
    }
};

TEST(VoiceRoster, AReadableFrameMakesOneRoomAndOneEvent) {
    VoiceHarness h;
    const std::string wire = R"({"type":"mic","state":"on"})";
    h.frame("#Room", wire);
    h.frame("#ROOM", R"({"type":"react","emoji":"x"})");
    EXPECT_EQ(h.events(), (Events{ev(Event::Voice{"#Room", {Signal::Mic{ToggleState::On}}}),
                                  ev(Event::Voice{"#ROOM", {Signal::React{std::nullopt, "x"}}})}));
    ASSERT_EQ(h.engine.voice_rooms.size(), 1u);
    EXPECT_EQ(h.room("#room").name, "#Room");
    EXPECT_FALSE(h.room("#room").stream_room);
    EXPECT_TRUE(h.room("#room").members.empty());

    h.frame("$stage", R"({"type":"speaking"})");
    EXPECT_TRUE(h.room("$stage").stream_room);
    EXPECT_EQ(h.engine.malformed_lines, 0u);

    // Our own frame echoed back is a frame like any other, batch tag or not.
    h.recv("BATCH +b chathistory #room");
    h.drain();
    h.recv("@batch=b;+vantaweb/rtc=" + std::string(R"({"type":"role","member":"me","role":"viewer"})") +
           " :me!u@h TAGMSG #room");
    EXPECT_EQ(h.events(), (Events{ev(Event::Voice{"#room", {Signal::Role{"me", VoiceRole::Viewer}}})}));
    EXPECT_EQ(h.roster("#room"), "me:view");
}

TEST(VoiceRoster, AnUnreadableFrameIsCountedAndLeavesNoTrace) {
    const std::string wires[] = {
        "x", R"({"type":"mic"})", R"({"type":"Mic","state":"on"})", "[]", R"({"type":"join"} x)",
        R"({"type":"speaking","x":)" + std::string(4000, '[') + std::string(4000, ']') + "}",
        R"({"type":"ice","cand":"c","mlineidx":18446744073709551616})",
    };
    for (const auto& wire : wires) {
        SCOPED_TRACE(wire);
        VoiceHarness h;
        h.frame("#room", wire);
        EXPECT_EQ(h.engine.malformed_lines, 1u);
        EXPECT_TRUE(h.engine.voice_rooms.empty());
        EXPECT_TRUE(h.events().empty());
        EXPECT_TRUE(h.sent().empty());
    }
}

TEST(VoiceRoster, InvalidUtf8InTheTagIsReplacedAndTheFrameRead) {
    VoiceHarness h;
    h.frame("#room", "{\"type\":\"presence\",\"member\":\"a\xff\",\"state\":\"joined\"}");
    EXPECT_EQ(h.roster("#room"), "a\xEF\xBF\xBD:pub");
    EXPECT_EQ(h.engine.malformed_lines, 0u);
}

TEST(VoiceRoster, JoinedSetsRolesByRoomKindStreamersAndOwnNick) {
    const struct {
        const char* target;
        const char* wire;
        const char* roster;
    } cases[] = {
        {"#room", R"({"type":"joined","members":["a","b"]})", "a:pub b:pub"},
        {"#room", R"({"type":"joined","members":["a","b"],"streamers":["B"]})", "a:pub b:pub"},
        {"$stage", R"({"type":"joined","members":["a","b"]})", "a:view b:view"},
        {"$stage", R"({"type":"joined","members":["a","b"],"streamers":["B"]})", "a:view b:pub"},
        // The frame's role is ours alone, matched under the casemapping ("[" folds to "{").
        {"#room", R"({"type":"joined","members":["a","M[E]"],"role":"viewer"})", "a:pub M[E]:view"},
        {"$stage", R"({"type":"joined","members":["a","m{e}"],"role":"streamer"})", "a:view m{e}:pub"},
        {"#room", R"({"type":"joined","members":["a"],"role":"viewer"})", "a:pub"},
        // One member under two spellings: the first spelling stays, the last role stands.
        {"$stage", R"({"type":"joined","members":["Al","AL"],"streamers":["al"]})", "Al:pub"},
        {"#room", R"({"type":"joined","members":["Al","m{e}"],"role":"viewer"})", "Al:pub m{e}:view"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wire);
        VoiceHarness h(basic_config("m{e}"));
        h.frame(c.target, c.wire);
        EXPECT_EQ(h.roster(irc_fold(CaseMapping::Rfc1459, c.target)), c.roster);
    }
}

TEST(VoiceRoster, JoinedReplacesTurnAndKeepsUnlistedMembers) {
    VoiceHarness h;
    h.frame("#room", R"({"type":"joined","members":["a","b"],"turn":{"urls":"turn:x","username":"u","password":"p"}})");
    h.frame("#room", R"({"type":"presence","member":"b","state":"on","kind":"mic"})");
    EXPECT_EQ(h.room("#room").turn, (TurnCredentials{{"turn:x"}, "u", "p"}));
    h.frame("#room", R"({"type":"joined","members":[]})");
    EXPECT_EQ(h.room("#room").turn, std::nullopt);
    EXPECT_EQ(h.roster("#room"), "a:pub b:pub+mic");
}

TEST(VoiceRoster, PresenceAndRoleFramesWalkTheRoster) {
    VoiceHarness h;
    const struct {
        const char* wire;
        const char* roster;  // after the frame
    } steps[] = {
        {R"({"type":"presence","member":"a","state":"on","kind":"video"})", ""},  // nobody to update
        {R"({"type":"presence","member":"a","state":"joined"})", "a:pub"},
        {R"({"type":"presence","member":"A","state":"on","kind":"video"})", "a:pub+video"},
        {R"({"type":"presence","member":"a","state":"on"})", "a:pub+video"},  // no kind: no change
        {R"({"type":"presence","member":"a","state":"on","kind":"hand"})", "a:pub+video+hand"},
        {R"({"type":"presence","member":"a","state":"off","kind":"video"})", "a:pub+hand"},
        {R"({"type":"presence","member":"a","state":"speaking"})", "a:pub+hand+speaking"},
        {R"({"type":"presence","member":"a","state":"deaf-on"})", "a:pub+hand+speaking+deaf"},
        {R"({"type":"presence","member":"a","state":"silent"})", "a:pub+hand+deaf"},
        {R"({"type":"presence","member":"a","state":"joined","role":"viewer"})", "a:view+hand+deaf"},
        {R"({"type":"presence","member":"a","state":"deaf-off"})", "a:view+hand"},
        {R"({"type":"presence","member":"b","state":"left"})", "a:view+hand"},
        {R"({"type":"presence","member":"a","state":"left"})", ""},
        {R"({"type":"presence","member":"a","state":"joined"})", "a:pub"},  // back with every flag off
        {R"({"type":"role","member":"Zed","role":"viewer"})", "a:pub Zed:view"},
        {R"({"type":"role","member":"a","role":"viewer"})", "a:view Zed:view"},
        {R"({"type":"promote","target":"a"})", "a:view Zed:view"},
    };
    for (const auto& s : steps) {
        h.frame("#room", s.wire);
        EXPECT_EQ(h.roster("#room"), s.roster) << s.wire;
    }
}

TEST(VoiceRoster, RoomsFollowARenameAndOutliveTheLink) {
    VoiceHarness h;
    h.register_with();
    h.frame("#old", R"({"type":"presence","member":"a","state":"joined"})");
    h.frame("#new", R"({"type":"presence","member":"z","state":"joined"})");
    h.recv(":me!u@h JOIN #old");
    h.recv(":srv RENAME #old #New :tidy");
    h.drain();
    EXPECT_FALSE(h.engine.voice_rooms.contains("#old"));
    EXPECT_EQ(h.room("#new").name, "#old");
    EXPECT_EQ(h.roster("#new"), "a:pub");  // the room that was under #new is gone

    h.engine.handle_disconnected();
    h.register_with();
    h.frame("#NEW", R"({"type":"presence","member":"a","state":"on","kind":"mic"})");
    EXPECT_EQ(h.roster("#new"), "a:pub+mic");
    EXPECT_EQ(h.engine.voice_rooms.size(), 1u);
}

}  // namespace
}  // namespace tessel::testing
