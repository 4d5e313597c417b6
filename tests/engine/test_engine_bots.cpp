#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_harness.hpp"
#include "tessel_client/engine/base64.hpp"
#include "tessel_client/engine/bot_data.hpp"

namespace tessel::testing {
namespace {

using Events = std::vector<Event>;

std::string bot_info_line(std::string_view encoded) {
    return "@tesselnet/bot-info=" + std::string(encoded) + " :srv TAGMSG me";
}
std::string announce(std::string_view json) { return bot_info_line(base64_encode(json)); }
std::string bot_cmds(std::string_view nick, std::string_view json) {
    return "@+draft/bot-cmds=" + base64_encode(json) + " :" + std::string(nick) + "!u@h TAGMSG #chan";
}

constexpr std::string_view kQuizbot =
    R"({"nick":"Quizbot","bot_id":"b1","commands":[{"name":"help","description":"Shows help"},)"
    R"({"name":"IDENTIFY"},{"description":"no name"}]})";

BotInfo bot(std::string nick, std::vector<BotCommand> commands, std::optional<std::string> id = "b1",
            bool from_config = false) {
    return BotInfo{std::move(id), std::move(nick), std::move(commands), from_config};
}
const BotCommand kHelp{"help", "Shows help"};
const BotCommand kIdentify{"IDENTIFY", std::nullopt};

Event changed(std::string nick) { return ev(Event::BotsChanged{std::move(nick)}); }
const Event kAllowed = ev(Event::AllowedCommandsChanged{});

TEST(Bots, AnnouncementsCommandListsAndCmdslist) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        Events events;
        BotRegistry bots;
        AllowedCommands allowed;
        bool disconnect = false;
    };
    const std::string configured =
        R"({"nick":"Quizbot","bot_id":"b1","from_config":true,"commands":[{"name":"help","description":"Shows help"},{"name":"IDENTIFY"}]})";
    const Case cases[] = {
        {"announce", {announce(kQuizbot)}, {changed("Quizbot")}, {{"quizbot", bot("Quizbot", {kHelp})}}, {}},
        {"from_config true keeps sensitive names",
         {announce(configured)},
         {changed("Quizbot")},
         {{"quizbot", bot("Quizbot", {kHelp, kIdentify}, "b1", true)}},
         {}},
        {"from_config as a string is false",
         {announce(R"({"nick":"Quizbot","from_config":"true","commands":[{"name":"IDENTIFY"},{"name":"x"}]})")},
         {changed("Quizbot")},
         {{"quizbot", bot("Quizbot", {{"x", std::nullopt}}, std::nullopt)}},
         {}},
        {"commands not an array, or absent",
         {announce(R"({"nick":"A","commands":{"name":"help"}})"), announce(R"({"nick":"B","bot_id":7})")},
         {changed("A"), changed("B")},
         {{"a", bot("A", {}, std::nullopt)}, {"b", bot("B", {}, std::nullopt)}},
         {}},
        {"a new announcement replaces the old entry whole",
         {announce(configured), announce(R"({"nick":"QUIZBOT","commands":[{"name":"IDENTIFY"}]})")},
         {changed("Quizbot"), changed("QUIZBOT")},
         {{"quizbot", bot("QUIZBOT", {}, std::nullopt)}},
         {}},
        {"withdraw",
         {announce(kQuizbot), announce(R"({"nick":"QuizBot","event":"remove"})")},
         {changed("Quizbot"), changed("QuizBot")},
         {},
         {}},
        {"withdrawing a bot never announced still reports",
         {announce(R"({"event":"remove","nick":"ghost"})")},
         {changed("ghost")},
         {},
         {}},
        {"only the exact word withdraws",
         {announce(kQuizbot), announce(R"({"nick":"Quizbot","event":"Remove","bot_id":"b2"})")},
         {changed("Quizbot"), changed("Quizbot")},
         {{"quizbot", bot("Quizbot", {}, "b2")}},
         {}},
        {"first pair of a key wins",
         {announce(R"({"nick":"Quizbot","event":"update","nick":"Other","event":"remove","bot_id":"b1","bot_id":"b2"})")},
         {changed("Quizbot")},
         {{"quizbot", bot("Quizbot", {})}},
         {}},
        {"a list from the bot itself, in other letter case",
         {announce(kQuizbot),
          bot_cmds("QUIZBOT", R"({"commands":[{"name":"stats"},{"name":"oper"},{"name":"Login"},{"name":"stats"}]})")},
         {changed("Quizbot"), changed("QUIZBOT")},
         {{"quizbot", bot("Quizbot", {{"stats", std::nullopt}, {"stats", std::nullopt}})}},
         {}},
        {"a list for a configured bot keeps sensitive names",
         {announce(configured), bot_cmds("Quizbot", R"({"commands":[{"name":"oper"}]})")},
         {changed("Quizbot"), changed("Quizbot")},
         {{"quizbot", bot("Quizbot", {{"oper", std::nullopt}}, "b1", true)}},
         {}},
        {"a list that is no object empties the bot's commands",
         {announce(kQuizbot), bot_cmds("Quizbot", "[1,2]")},
         {changed("Quizbot"), changed("Quizbot")},
         {{"quizbot", bot("Quizbot", {})}},
         {}},
        {"a list from an unannounced nick changes nothing",
         {announce(kQuizbot), bot_cmds("mallory", R"({"commands":[{"name":"evil"}]})")},
         {changed("Quizbot")},
         {{"quizbot", bot("Quizbot", {kHelp})}},
         {}},
        {"nick folded under the current casemapping",
         {announce(R"({"nick":"Quiz[bot]"})"), bot_cmds("QUIZ[BOT]", R"({"commands":[{"name":"go"}]})")},
         {changed("Quiz[bot]"), changed("QUIZ[BOT]")},
         {{"quiz{bot}", bot("Quiz[bot]", {{"go", std::nullopt}}, std::nullopt)}},
         {}},
        {"name as a number skipped, description as a number absent",
         {announce(R"({"nick":"q","commands":[{"name":5},{"name":"a","description":5},"b",{"name":"c","name":1}]})")},
         {changed("q")},
         {{"q", bot("q", {{"a", std::nullopt}, {"c", std::nullopt}}, std::nullopt)}},
         {}},
        {"nick as a number drops the announcement", {announce(R"({"nick":5,"bot_id":"b"})")}, {}, {}, {}},
        {"cmdslist adds and removes",
         {":srv CMDSLIST +bar", ":srv CMDSLIST +foo -BAR +baz"},
         {kAllowed, kAllowed},
         {},
         {"BAZ", "FOO"}},
        {"cmdslist repeated reports each time",
         {":srv CMDSLIST +foo", ":srv CMDSLIST +foo"},
         {kAllowed, kAllowed},
         {},
         {"FOO"}},
        {"cmdslist with a target word", {":srv CMDSLIST me :+a +b"}, {kAllowed}, {}, {"A", "B"}},
        {"cmdslist cuts at Unicode white space, upper-cases ASCII only",
         {":srv CMDSLIST me :+a\xC2\xA0+b\xE3\x80\x80-a\t+stra\xC3\x9F" "e  x+y"},
         {kAllowed},
         {},
         {"B", "STRA\xC3\x9F" "E"}},
        {"disconnect forgets bots, keeps allowed commands",
         {announce(kQuizbot), ":srv CMDSLIST +a"},
         {changed("Quizbot"), kAllowed, ev(Event::ReconnectAfter{2000})},
         {},
         {"A"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        for (const auto& line : c.lines) h.recv(line);
        if (c.disconnect) h.engine.handle_disconnected();
        EXPECT_EQ(h.events(), c.events);
        EXPECT_EQ(h.engine.bots, c.bots);
        EXPECT_EQ(h.engine.allowed_commands, c.allowed);
        EXPECT_TRUE(h.sent().empty());
    }
}

TEST(Bots, UnreadableDataIsDroppedWithoutAnEvent) {
    // `body` leaves one byte over, so its encoding ends in "==" after a character that carries
    // four bits: setting the lowest makes it non-canonical.
    const std::string body = R"({"nick":"Quizbot"} )";
    ASSERT_EQ(body.size() % 3, 1u);
    const std::string encoded = base64_encode(body);
    ASSERT_TRUE(encoded.ends_with("=="));
    const std::string unpadded = encoded.substr(0, encoded.size() - 2);
    const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string loose_bits = encoded;
    char& last = loose_bits[loose_bits.size() - 3];
    last = alphabet[alphabet.find(last) + 1];

    const std::pair<const char*, std::string> lines[] = {
        {"missing padding", bot_info_line(unpadded)},
        {"non-canonical trailing bits", bot_info_line(loose_bits)},
        {"trailing garbage", bot_info_line(encoded + "!")},
        {"a second encoded block", bot_info_line(encoded + base64_encode("{}"))},
        {"not base64", bot_info_line("x")},
        {"invalid UTF-8", announce("{\"nick\":\"Quiz\xFF" "bot\"}")},
        {"text after the value", announce(R"({"nick":"Quizbot"} x)")},
        {"two values", announce(R"({"nick":"a"}{"nick":"b"})")},
        {"other white space around", announce("\xC2\xA0{\"nick\":\"Quizbot\"}")},
        {"empty object", announce("{}")},
        {"an array", announce(R"([{"nick":"Quizbot"}])")},
        {"nested deeper than the reader allows",
         announce(R"({"nick":"deep","commands":)" + std::string(100, '[') + std::string(100, ']') + "}")},
        {"list without a source", "@+draft/bot-cmds=" + base64_encode(R"({"commands":[]})") + " TAGMSG #chan"},
        {"list not base64", "@+draft/bot-cmds=%% :Quizbot!u@h TAGMSG #chan"},
    };
    for (const auto& [name, line] : lines) {
        SCOPED_TRACE(name);
        Harness h;
        h.recv(announce(R"({"nick":"Quizbot","commands":[{"name":"help"}]})"));
        h.events();
        const BotRegistry before = h.engine.bots;
        h.recv(line);
        EXPECT_TRUE(h.events().empty());
        EXPECT_EQ(h.engine.bots, before);
    }

    // The four white-space characters around the value are fine, and the tag may sit anywhere.
    Harness h;
    h.recv("@a=b;tesselnet/bot-info=" + base64_encode(" \t\r\n{\"nick\":\"Quizbot\"}\n ") + ";c :srv TAGMSG");
    EXPECT_EQ(h.events(), Events{changed("Quizbot")});
}

TEST(Bots, AHugeCommandListIsKeptWhole) {
    std::string json = R"({"nick":"Big","commands":[)";
    for (int i = 0; i < 100000; ++i) json += i % 2 ? R"({"name":"c"},)" : R"({"name":"pass"},)";
    json += "0]}";
    Harness h;
    h.recv(announce(json));
    EXPECT_EQ(h.events(), Events{changed("Big")});
    ASSERT_EQ(h.engine.bots.count("big"), 1u);
    EXPECT_EQ(h.engine.bots.at("big").commands.size(), 50000u);
}

TEST(Bots, SensitiveCommandNames) {
    const std::pair<const char*, bool> cases[] = {
        {"NickServ", true}, {"cs", true},        {"Identify", true}, {"PASS", true},
        {"login", true},    {"nickserv2", false}, {"", false},        {"password", false},
        {"ns2", false},     {" oper", false},     {"ＯＰＥＲ", false},
    };
    for (const auto& [name, sensitive] : cases) EXPECT_EQ(is_sensitive_command(name), sensitive) << name;
}

}  // namespace
}  // namespace tessel::testing
