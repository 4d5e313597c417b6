// Events written as host JSON: every event and change type with its members in order.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "tessel_client/formats/event_json.hpp"

namespace tessel {
namespace {

std::string json_of(Event e) {
    std::string out;
    event_to_json(e, out);
    return out;
}

Event changed(Change c) { return Event{Event::ModelChanged{std::move(c)}}; }

TEST(EventJson, EmptyAndSeveralEventsFormOneCompactArray) {
    EXPECT_EQ(events_to_json({}), "[]");
    const std::vector<Event> two = {Event{Event::LinkDead{}}, Event{Event::Registered{"n"}}};
    EXPECT_EQ(events_to_json(two), R"([{"type":"link_dead"},{"type":"registered","nick":"n"}])");
}

TEST(EventJson, EveryEventTypeWritesItsMembersInOrder) {
    IrcMessage bare;
    bare.command = "PING";
    IrcMessage full;
    full.tags = {Tag{"+draft/react", "\xF0\x9F\x91\x8D"}, Tag{"msgid", std::nullopt}};
    full.source = Source{"nick", "user", "host"};
    full.command = "PRIVMSG";
    full.params = {"#c", "hello world"};
    IrcMessage name_only;
    name_only.source = Source{"irc.example", std::nullopt, std::nullopt};
    name_only.command = "001";
    name_only.params = {"me", ""};

    const struct {
        Event event;
        const char* json;
    } cases[] = {
        {{Event::CapabilitiesAcknowledged{{"sasl", "message-tags"}}},
         R"({"type":"capabilities_acknowledged","names":["sasl","message-tags"]})"},
        {{Event::CapabilitiesAcknowledged{{}}}, R"({"type":"capabilities_acknowledged","names":[]})"},
        {{Event::Registered{""}}, R"({"type":"registered","nick":""})"},
        {{Event::IsupportToken{"NETWORK", "x"}}, R"({"type":"isupport_token","token":"NETWORK","value":"x"})"},
        {{Event::IsupportToken{"WHOX", std::nullopt}}, R"({"type":"isupport_token","token":"WHOX","value":null})"},
        {{Event::LoggedIn{"acct"}}, R"({"type":"logged_in","account":"acct"})"},
        {{Event::SaslFailed{SaslFailure::rejected}}, R"({"type":"sasl_failed","reason":"rejected"})"},
        {{Event::SaslFailed{SaslFailure::too_long}}, R"({"type":"sasl_failed","reason":"too_long"})"},
        {{Event::SaslFailed{SaslFailure::aborted}}, R"({"type":"sasl_failed","reason":"aborted"})"},
        {{Event::SaslFailed{SaslFailure::already_authenticated}},
         R"({"type":"sasl_failed","reason":"already_authenticated"})"},
        {{Event::SaslFailed{SaslFailure::no_shared_mechanism}}, R"({"type":"sasl_failed","reason":"no_shared_mechanism"})"},
        {{Event::SaslFailed{SaslFailure::server_not_verified}}, R"({"type":"sasl_failed","reason":"server_not_verified"})"},
        {{Event::NickInUse{"a", "a_"}}, R"({"type":"nick_in_use","refused":"a","trying":"a_"})"},
        {{Event::LinkDead{}}, R"({"type":"link_dead"})"},
        {{Event::ReconnectAfter{std::numeric_limits<std::uint64_t>::max()}},
         R"({"type":"reconnect_after","after_ms":18446744073709551615})"},
        {{Event::ReconnectAfter{0}}, R"({"type":"reconnect_after","after_ms":0})"},
        {{Event::ReconnectAbandoned{}}, R"({"type":"reconnect_abandoned"})"},
        {{Event::CommandTimedOut{"WHOIS"}}, R"({"type":"command_timed_out","command":"WHOIS"})"},
        {{Event::AllowedCommandsChanged{}}, R"({"type":"allowed_commands_changed"})"},
        {{Event::BotsChanged{"bot"}}, R"({"type":"bots_changed","nick":"bot"})"},
        {{Event::AuthToken{"s", "https://e/x", "t"}},
         R"({"type":"auth_token","service":"s","endpoint":"https://e/x","token":"t"})"},
        {{Event::Voice{"#Room", Signal{Signal::Speaking{}}}},
         R"({"type":"voice","channel":"#Room","signal":{"type":"speaking"}})"},
        {{Event::Voice{"#r", Signal{Signal::Presence{"m1", PresenceState::DeafOn, std::nullopt, std::nullopt}}}},
         R"({"type":"voice","channel":"#r","signal":{"type":"presence","member":"m1","state":"deaf_on","kind":null,"role":null}})"},
        {{Event::TypingChanged{"#c", "N", true}}, R"({"type":"typing_changed","target":"#c","nick":"N","active":true})"},
        {{Event::PresenceChanged{"w", false}}, R"({"type":"presence_changed","nick":"w","online":false})"},
        {{Event::ServerReply{ReplySeverity::fail, "JOIN", "CHANNEL_FULL", {"#c", "x"}, "full"}},
         R"({"type":"server_reply","severity":"fail","command":"JOIN","code":"CHANNEL_FULL","context":["#c","x"],"text":"full"})"},
        {{Event::ServerReply{ReplySeverity::warn, "*", "C", {}, ""}},
         R"({"type":"server_reply","severity":"warn","command":"*","code":"C","context":[],"text":""})"},
        {{Event::ServerReply{ReplySeverity::note, "*", "C", {}, "t"}},
         R"({"type":"server_reply","severity":"note","command":"*","code":"C","context":[],"text":"t"})"},
        {{Event::RawLine{bare}}, R"({"type":"raw_line","message":{"tags":[],"source":null,"command":"PING","params":[]}})"},
        {{Event::RawLine{full}},
         "{\"type\":\"raw_line\",\"message\":{\"tags\":[{\"key\":\"+draft/react\",\"value\":\"\xF0\x9F\x91\x8D\"},"
         "{\"key\":\"msgid\",\"value\":null}],\"source\":{\"name\":\"nick\",\"user\":\"user\",\"host\":\"host\"},"
         "\"command\":\"PRIVMSG\",\"params\":[\"#c\",\"hello world\"]}}"},
        {{Event::RawLine{name_only}},
         R"({"type":"raw_line","message":{"tags":[],"source":{"name":"irc.example","user":null,"host":null},"command":"001","params":["me",""]}})"},
    };
    for (const auto& c : cases) EXPECT_EQ(json_of(c.event), c.json);
}

TEST(EventJson, EveryChangeTypeNestsInModelChanged) {
    const struct {
        Change change;
        const char* json;
    } cases[] = {
        {{Change::MessageAdded{"#C", MessageKey{1700000000000, 18446744073709551615u}}},
         R"({"type":"message_added","target":"#C","key":{"time_ms":1700000000000,"seq":18446744073709551615}})"},
        {{Change::ChannelJoined{"#Chan"}}, R"({"type":"channel_joined","channel":"#Chan"})"},
        {{Change::ChannelParted{"#c"}}, R"({"type":"channel_parted","channel":"#c"})"},
        {{Change::ChannelMembersChanged{"#c"}}, R"({"type":"channel_members_changed","channel":"#c"})"},
        {{Change::ChannelTopicChanged{"#c"}}, R"({"type":"channel_topic_changed","channel":"#c"})"},
        {{Change::NickChanged{"A", "B"}}, R"({"type":"nick_changed","from":"A","to":"B"})"},
        {{Change::ChannelModesChanged{"#c"}}, R"({"type":"channel_modes_changed","channel":"#c"})"},
        {{Change::ReadMarkerMoved{"n"}}, R"({"type":"read_marker_moved","target":"n"})"},
        {{Change::MessageReacted{"#c", "m1"}}, R"({"type":"message_reacted","target":"#c","msgid":"m1"})"},
        {{Change::MessageRedacted{"#c", "m1"}}, R"({"type":"message_redacted","target":"#c","msgid":"m1"})"},
        {{Change::MetadataChanged{"*", "avatar"}}, R"({"type":"metadata_changed","target":"*","key":"avatar"})"},
        {{Change::WhoisReceived{"n"}}, R"({"type":"whois_received","nick":"n"})"},
        {{Change::ChannelRenamed{"#a", "#b"}}, R"({"type":"channel_renamed","from":"#a","to":"#b"})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(json_of(changed(c.change)), std::string(R"({"type":"model_changed","change":)") + c.json + "}");
}

TEST(EventJson, StringsEscapeOnlyQuoteBackslashAndControls) {
    const std::string raw = std::string("a\"b\\c/d\te\nf\x01g\x1f\b\f\r\x7f\xC3\xA9") + '\0' + "z";
    EXPECT_EQ(json_of(Event{Event::Registered{raw}}),
              "{\"type\":\"registered\",\"nick\":\"a\\\"b\\\\c/d\\te\\nf\\u0001g\\u001f\\b\\f\\r\x7f\xC3\xA9\\u0000z\"}");
}

TEST(EventJson, TextLongerThanItsSizedEstimateIsStillWhole) {
    // Escapes are not counted when the buffer is sized: six bytes each here instead of one.
    const std::vector<Event> events = {Event{Event::Registered{std::string(5000, '\x01')}},
                                       Event{Event::LoggedIn{std::string(3000, '"')}}};
    std::string expected = "[";
    event_to_json(events[0], expected);
    expected += ',';
    event_to_json(events[1], expected);
    expected += ']';
    EXPECT_EQ(events_to_json(events), expected);
    EXPECT_EQ(expected.size(), 36067u);  // over four times the 8 KB or so it was sized at
}

}  // namespace
}  // namespace tessel
