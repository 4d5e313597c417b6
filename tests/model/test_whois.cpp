#include <limits>

#include "model_fixture.hpp"

namespace tessel::test {
namespace {

class Whois : public ModelTest {};

TEST_F(Whois, OneRunFillsOneRecord) {
    const char* replies[] = {
        ":x 311 me Bob bob host.example * :Bob Real",
        ":x 312 me bob irc.example :The server",
        ":x 313 me bob :is an IRC operator",
        ":x 317 me bob 42 +1700000000 :seconds idle, signon time",
        ":x 319 me BOB :@#a  +#b\t#c",
        ":x 330 me bob bobacct :is logged in as",
        ":x 338 me bob 10.0.0.1 :actually using host",
        ":x 671 me bob :is using a secure connection",
    };
    for (const char* line : replies) EXPECT_EQ(feed(line), Changes{}) << line;
    EXPECT_EQ(feed(":x 318 me BOB :End of WHOIS"), Changes{whois("BOB")});
    WhoisRecord expected;
    expected.nick = "Bob";
    expected.username = "bob";
    expected.host = "host.example";
    expected.realname = "Bob Real";
    expected.server = "irc.example";
    expected.server_info = "The server";
    expected.operator_ = "is an IRC operator";
    expected.idle_secs = 42;
    expected.signon_ms = 1700000000000ULL;
    expected.channels = {"@#a", "+#b", "#c"};
    expected.account = "bobacct";
    expected.actual_host = "10.0.0.1";
    expected.secure = true;
    expected.complete = true;
    EXPECT_EQ(model.whois.at("bob"), expected);

    // A second query starts afresh.
    feed(":x 311 me bob b2 h2 * :Again");
    EXPECT_EQ(model.whois.at("bob").server, std::nullopt);
    EXPECT_FALSE(model.whois.at("bob").complete);
}

TEST_F(Whois, ShortAndOddReplies) {
    struct Case {
        const char* line;
        void (*check)(const WhoisRecord&);
    } cases[] = {
        {":x 317 me bob 99999999999999999999 18446744073709552",
         [](const WhoisRecord& r) {
             EXPECT_EQ(r.idle_secs, std::nullopt);
             EXPECT_EQ(r.signon_ms, std::numeric_limits<std::uint64_t>::max());
         }},
        {":x 317 me bob x1 :idle", [](const WhoisRecord& r) { EXPECT_EQ(r.idle_secs, std::nullopt); }},
        {":x 317 me bob 5", [](const WhoisRecord& r) {
             EXPECT_EQ(r.idle_secs, 5u);
             EXPECT_EQ(r.signon_ms, std::nullopt);
         }},
        {":x 317 me bob", [](const WhoisRecord& r) { EXPECT_EQ(r.idle_secs, std::nullopt); }},
        {":x 311 me bob", [](const WhoisRecord& r) {
             EXPECT_EQ(r.username, std::nullopt);
             EXPECT_EQ(r.host, std::nullopt);
             EXPECT_EQ(r.realname, "bob");
         }},
        {":x 319 me bob :#a", [](const WhoisRecord& r) { EXPECT_EQ(r.channels, std::vector<std::string>{"#a"}); }},
        {":x 319 me bob :#b #c", [](const WhoisRecord& r) {
             EXPECT_EQ(r.channels, (std::vector<std::string>{"#b", "#c"}));
         }},
        {":x 319 me bob", [](const WhoisRecord& r) { EXPECT_TRUE(r.channels.empty()); }},
        {":x 378 me bob :is connecting from *@h 1.2.3.4",
         [](const WhoisRecord& r) { EXPECT_EQ(r.actual_host, "is connecting from *@h 1.2.3.4"); }},
        {":x 330 me bob", [](const WhoisRecord& r) { EXPECT_EQ(r.account, std::nullopt); }},
        {":x 311 me BOB u h * :r", [](const WhoisRecord& r) { EXPECT_EQ(r.nick, "bob"); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(feed(c.line), Changes{}) << c.line;
        c.check(model.whois.at("bob"));
    }
    EXPECT_EQ(feed(":x 318 me nobody :End"), Changes{});
    EXPECT_EQ(feed(":x 311 me"), Changes{});
    EXPECT_EQ(model.whois.size(), 1u);
}

TEST_F(Whois, CapEvictsCompleteFirstThenSmallestKey) {
    auto query = [&](int i) { feed(":x 311 me n" + std::to_string(100 + i) + " u h * :r"); };
    for (int i = 0; i < 64; ++i) query(i);
    feed(":x 318 me n130 :End");
    query(64);
    EXPECT_EQ(model.whois.size(), 64u);
    EXPECT_FALSE(model.whois.contains("n130"));
    EXPECT_TRUE(model.whois.contains("n100"));
    query(65);
    EXPECT_FALSE(model.whois.contains("n100"));
    feed(":x 312 me n101 s :info");  // already held: nothing evicted
    EXPECT_EQ(model.whois.size(), 64u);
    EXPECT_TRUE(model.whois.contains("n101"));
    EXPECT_TRUE(model.whois.contains("n165"));
}

}  // namespace
}  // namespace tessel::test
