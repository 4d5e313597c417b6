// Command read from host JSON: every variant in both shapes, and the exact error texts with
// their positions (first pass) or none (the fields).
#include <gtest/gtest.h>

#include <string>

#include "tessel_client/formats/command_json.hpp"

namespace tessel {
namespace {

using C = Command;

std::string error_of(std::string_view text) {
    const auto r = command_from_json(text);
    return r.ok() ? "ok" : r.error().shown();
}

TEST(CommandJson, EveryVariantInBothShapes) {
    struct Case {
        std::string object;
        std::string array;
        Command expected;
    };
    const Case cases[] = {
        {R"({"type":"join","channel":"#a"})", R"(["join","#a",null])", C::Join{"#a", std::nullopt}},
        {R"({"channel":"#a","key":"k","type":"join"})", R"(["join","#a","k"])", C::Join{"#a", "k"}},
        {R"({"type":"part","channel":"#a","reason":"r"})", R"(["part","#a","r"])", C::Part{"#a", "r"}},
        {R"({"type":"send_message","target":"#a","text":"hi"})", R"(["send_message","#a","hi"])",
         C::SendMessage{"#a", "hi"}},
        {R"({"type":"send_notice","target":"#a","text":"hi"})", R"(["send_notice","#a","hi"])",
         C::SendNotice{"#a", "hi"}},
        {R"({"type":"send_action","target":"#a","text":"hi"})", R"(["send_action","#a","hi"])",
         C::SendAction{"#a", "hi"}},
        {R"({"type":"set_nick","nick":"n"})", R"(["set_nick","n"])", C::SetNick{"n"}},
        {R"({"type":"set_topic","channel":"#a"})", R"(["set_topic","#a",null])", C::SetTopic{"#a", std::nullopt}},
        {R"({"type":"set_away"})", R"(["set_away",null])", C::SetAway{std::nullopt}},
        {R"({"type":"set_away","message":"brb"})", R"(["set_away","brb"])", C::SetAway{"brb"}},
        {R"({"type":"set_typing","target":"bob","state":"done"})", R"(["set_typing","bob",{"done":null}])",
         C::SetTyping{"bob", TypingState::Done}},
        {R"({"type":"set_typing","target":"bob","state":{"paused":{}}})", R"(["set_typing","bob","paused"])",
         C::SetTyping{"bob", TypingState::Paused}},
        {R"({"type":"add_reaction","target":"#a","msgid":"m","emoji":"+1"})", R"(["add_reaction","#a","m","+1"])",
         C::AddReaction{"#a", "m", "+1"}},
        {R"({"type":"remove_reaction","emoji":"+1","msgid":"m","target":"#a"})",
         R"(["remove_reaction","#a","m","+1"])", C::RemoveReaction{"#a", "m", "+1"}},
        {R"({"type":"redact_message","target":"#a","msgid":"m"})", R"(["redact_message","#a","m",null])",
         C::RedactMessage{"#a", "m", std::nullopt}},
        {R"({"type":"mark_read","target":"#a","at_ms":18446744073709551615})",
         R"(["mark_read","#a",18446744073709551615])", C::MarkRead{"#a", 18446744073709551615u}},
        {R"({"type":"fetch_history","target":"#a","limit":65535})", R"(["fetch_history","#a",null,65535])",
         C::FetchHistory{"#a", std::nullopt, 65535}},
        {R"({"type":"fetch_history","target":"#a","before_msgid":"x","limit":0})",
         R"(["fetch_history","#a","x",0])", C::FetchHistory{"#a", "x", 0}},
        {R"({"type":"set_metadata","key":"k","value":"v"})", R"(["set_metadata","k","v"])",
         C::SetMetadata{"k", "v"}},
        {R"({"type":"subscribe_metadata","keys":["a","b","a"]})", R"(["subscribe_metadata",["a","b","a"]])",
         C::SubscribeMetadata{{"a", "b", "a"}}},
        {R"({"type":"whois","nick":"bob"})", R"(["whois","bob"])", C::Whois{"bob"}},
        {R"({"type":"rename_channel","channel":"#a","new_name":"#b"})", R"(["rename_channel","#a","#b",null])",
         C::RenameChannel{"#a", "#b", std::nullopt}},
        {R"({"type":"create_invite_link","description":"d"})", R"(["create_invite_link",null,"d"])",
         C::CreateInviteLink{std::nullopt, "d"}},
        {R"({"type":"list_invite_links","anything":[1,{"x":2}]})", R"(["list_invite_links"])", C::ListInviteLinks{}},
        {R"({"type":"delete_invite_link","share_id":"s"})", R"(["delete_invite_link","s"])",
         C::DeleteInviteLink{"s"}},
        {R"({"type":"redeem_invite_code","code":"c"})", R"(["redeem_invite_code","c"])", C::RedeemInviteCode{"c"}},
        {R"({"type":"generate_token","service":"f"})", R"(["generate_token","f"])", C::GenerateToken{"f"}},
        {R"({"type":"watch_nicks","nicks":[]})", R"(["watch_nicks",[]])", C::WatchNicks{{}}},
        {R"({"type":"unwatch_nicks","nicks":["a"]})", R"(["unwatch_nicks",["a"]])", C::UnwatchNicks{{"a"}}},
        {R"({"type":"send_voice_signal","channel":"#a","signal":{"type":0,"channel":"#v"}})",
         R"(["send_voice_signal","#a",["join","#v"]])", C::SendVoiceSignal{"#a", Signal{Signal::Join{"#v"}}}},
        {R"({"type":"send_voice_signal","signal":["mic",{"off":null}],"channel":"#a"})",
         R"(["send_voice_signal","#a",{"type":"mic","state":"off"}])",
         C::SendVoiceSignal{"#a", Signal{Signal::Mic{ToggleState::Off}}}},
        {R"({"type":"quit","reason":null})", R"(["quit",null])", C::Quit{std::nullopt}},
        {R"( {"type" : "send_raw_line", "line" : "PING x"} )", R"([ "send_raw_line" , "PING x" ])",
         C::SendRawLine{"PING x"}},
    };
    for (const Case& c : cases) {
        for (const std::string& text : {c.object, c.array}) {
            SCOPED_TRACE(text);
            const auto r = command_from_json(text);
            ASSERT_TRUE(r.ok()) << r.error().shown();
            EXPECT_EQ(r.value(), c.expected);
        }
    }
}

TEST(CommandJson, ErrorTexts) {
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        // First pass: positioned.
        {"", "EOF while parsing a value at line 1 column 0"},
        {"{", "EOF while parsing an object at line 1 column 1"},
        {"true", "invalid type: boolean `true`, expected internally tagged enum Command at line 1 column 4"},
        {R"("join")", "invalid type: string \"join\", expected internally tagged enum Command at line 1 column 6"},
        {"{}", "missing field `type` at line 1 column 2"},
        {"[]", "missing field `type` at line 1 column 2"},
        {R"({"channel":"#a"})", "missing field `type` at line 1 column 16"},
        {R"({"type":3})", "invalid type: integer `3`, expected variant identifier at line 1 column 9"},
        {R"({"type":"join","type":"join"})", "duplicate field `type` at line 1 column 21"},
        {R"({"type":"Join"} x)",
         "unknown variant `Join`, expected one of `join`, `part`, `send_message`, `send_notice`, `send_action`, "
         "`set_nick`, `set_topic`, `set_away`, `set_typing`, `add_reaction`, `remove_reaction`, "
         "`redact_message`, `mark_read`, `fetch_history`, `set_metadata`, `subscribe_metadata`, `whois`, "
         "`rename_channel`, `create_invite_link`, `list_invite_links`, `delete_invite_link`, "
         "`redeem_invite_code`, `generate_token`, `watch_nicks`, `unwatch_nicks`, `send_voice_signal`, `quit`, "
         "`send_raw_line` at line 1 column 14"},
        // The tag is judged as soon as it is read, before malformed JSON after it.
        {R"({"type":"nope","x":})", "unknown variant `nope`, expected one of `join`, `part`, `send_message`, "
                                    "`send_notice`, `send_action`, `set_nick`, `set_topic`, `set_away`, "
                                    "`set_typing`, `add_reaction`, `remove_reaction`, `redact_message`, "
                                    "`mark_read`, `fetch_history`, `set_metadata`, `subscribe_metadata`, "
                                    "`whois`, `rename_channel`, `create_invite_link`, `list_invite_links`, "
                                    "`delete_invite_link`, `redeem_invite_code`, `generate_token`, "
                                    "`watch_nicks`, `unwatch_nicks`, `send_voice_signal`, `quit`, "
                                    "`send_raw_line` at line 1 column 14"},
        {R"({"type":"whois","nick":"a"} x)", "trailing characters at line 1 column 29"},
        {R"({"type":"whois","x":1e999})", "number out of range at line 1 column 25"},
        // Second pass: no position.
        {R"(["join","#a"])", "invalid length 1, expected struct variant Command::Join with 2 elements"},
        {R"(["join"])", "invalid length 0, expected struct variant Command::Join with 2 elements"},
        {R"(["join","#a",null,1])", "invalid length 3, expected 2 elements in sequence"},
        {R"(["whois","a","b"])", "invalid length 2, expected 1 element in sequence"},
        {R"(["list_invite_links",1])", "invalid length 1, expected 0 elements in sequence"},
        {R"(["fetch_history","#a"])",
         "invalid length 1, expected struct variant Command::FetchHistory with 3 elements"},
        {R"(["set_nick"])", "invalid length 0, expected struct variant Command::SetNick with 1 element"},
        {R"(["set_nick",5])", "invalid type: integer `5`, expected a string"},
        {R"({"type":"fetch_history","target":"#a"})", "missing field `limit`"},
        {R"({"type":"fetch_history","target":"#a","limit":null})", "invalid type: null, expected u16"},
        {R"({"type":"fetch_history","target":"#a","limit":65536})", "invalid value: integer `65536`, expected u16"},
        {R"({"type":"fetch_history","target":"#a","limit":-1})", "invalid value: integer `-1`, expected u16"},
        {R"({"type":"fetch_history","target":"#a","limit":1.5})", "invalid type: floating point `1.5`, expected u16"},
        {R"({"type":"fetch_history","target":"#a","limit":"5"})", "invalid type: string \"5\", expected u16"},
        {R"({"type":"mark_read","target":"#a","at_ms":-1})", "invalid value: integer `-1`, expected u64"},
        {R"({"type":"mark_read","target":"#a","at_ms":18446744073709551616})",
         "invalid type: floating point `1.8446744073709552e+19`, expected u64"},
        {R"({"type":"send_message"})", "missing field `target`"},
        {R"({"type":"send_message","text":"x"})", "missing field `target`"},
        {R"({"type":"send_message","target":1,"target":"#a","text":"x"})",
         "invalid type: integer `1`, expected a string"},
        {R"({"type":"quit","reason":null,"reason":"x"})", "duplicate field `reason`"},
        {R"({"type":"join","Channel":"#a"})", "missing field `channel`"},
        {R"({"type":"join","channel":null})", "invalid type: null, expected a string"},
        {R"({"type":"join","channel":"#a","key":5})", "invalid type: integer `5`, expected a string"},
        {R"({"type":"watch_nicks","nicks":"a"})", "invalid type: string \"a\", expected a sequence"},
        {R"({"type":"watch_nicks","nicks":["a",null]})", "invalid type: null, expected a string"},
        {R"({"type":"set_typing","target":"b","state":{"paused":1}})", "invalid type: integer `1`, expected unit"},
        {R"({"type":"set_typing","target":"b","state":{}})", "invalid value: map, expected map with a single key"},
        {R"({"type":"set_typing","target":"b","state":{"active":null,"done":null}})",
         "invalid value: map, expected map with a single key"},
        {R"({"type":"set_typing","target":"b","state":"typing"})",
         "unknown variant `typing`, expected one of `active`, `paused`, `done`"},
        {R"({"type":"set_typing","target":"b","state":1})", "invalid type: integer `1`, expected string or map"},
        // A signal's errors belong to the second pass too.
        {R"({"type":"send_voice_signal","channel":"#a","signal":{"type":19}})",
         "invalid value: integer `19`, expected variant index 0 <= i < 19"},
        {R"({"type":"send_voice_signal","channel":"#a","signal":{"type":-1}})",
         "invalid type: integer `-1`, expected variant identifier"},
        {R"({"type":"send_voice_signal","channel":"#a","signal":{"type":"join"}})", "missing field `channel`"},
        {R"({"type":"send_voice_signal","channel":"#a","signal":"join"})",
         "invalid type: string \"join\", expected internally tagged enum Signal"},
        {R"({"type":"send_voice_signal","channel":"#a"})", "missing field `signal`"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(error_of(c.text), c.error);
    }
}

TEST(CommandJson, NestingCountsTheCommandItself) {
    // 126 arrays inside the command's own object: 127 open at once is the most allowed.
    const std::string deep = std::string(126, '[') + std::string(126, ']');
    EXPECT_EQ(error_of(R"({"type":"whois","nick":"a","x":)" + deep + "}"), "ok");
    const std::string deeper = std::string(127, '[') + std::string(127, ']');
    EXPECT_EQ(error_of(R"({"type":"whois","nick":"a","x":)" + deeper + "}"),
              "recursion limit exceeded at line 1 column 158");
}

}  // namespace
}  // namespace tessel
