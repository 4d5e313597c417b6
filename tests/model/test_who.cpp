#include "model_fixture.hpp"

namespace tessel::test {
namespace {

class Who : public ModelTest {
protected:
    void SetUp() override { setup({":me!u@h JOIN #a"}); }
    std::string prefixes(std::string_view nick) { return chan("#a").members.at(std::string(nick)).prefixes; }
    const Person& person(std::string_view key) { return model.people.at(std::string(key)); }
};

TEST_F(Who, Names) {
    EXPECT_EQ(feed(":x 353 me = #A :@+Bob carol!c@host +"), Changes{members("#A")});
    EXPECT_EQ(member_keys("#a"), (std::vector<std::string>{"bob", "carol"}));
    EXPECT_EQ(prefixes("bob"), "@+");
    EXPECT_EQ(prefixes("carol"), "");
    EXPECT_EQ(person("bob").nick, "Bob");
    feed(":x 353 me = #a :BOB\t!x");
    EXPECT_EQ(prefixes("bob"), "");  // a later entry without symbols clears them
    EXPECT_EQ(person("bob").nick, "BOB");
    EXPECT_EQ(member_keys("#a").size(), 2u);  // NAMES adds, never removes

    EXPECT_EQ(feed(":x 353 me = #zz :dan"), Changes{});
    EXPECT_FALSE(model.people.contains("dan"));
    EXPECT_EQ(feed(":x 353 me = #zz :"), Changes{members("#zz")});
    // Three parameters: there is no name list, the channel is not a member.
    EXPECT_EQ(feed(":x 353 me = #a"), Changes{members("#a")});
    EXPECT_FALSE(model.people.contains("#a"));
}

TEST_F(Who, WhoReply) {
    EXPECT_EQ(feed(":x 352 me #a user host srv Bob G*B@ :3 Real Name"), Changes{members("#a")});
    const Person& bob = person("bob");
    EXPECT_EQ(bob.username, "user");
    EXPECT_EQ(bob.host, "host");
    EXPECT_EQ(bob.realname, "Real Name");
    EXPECT_EQ(bob.away, "");
    EXPECT_TRUE(bob.operator_);
    EXPECT_TRUE(bob.bot);
    EXPECT_EQ(prefixes("bob"), "@");

    feed(":bob!u@h AWAY :gone fishing");
    feed(":x 352 me #a user host srv bob G :0 ");
    EXPECT_EQ(person("bob").away, "gone fishing");  // a known away text stays
    EXPECT_EQ(person("bob").realname, "");           // after the first space: empty
    feed(":x 352 me #a u2 h2 srv bob H :nospace");
    EXPECT_EQ(person("bob").away, std::nullopt);
    EXPECT_EQ(person("bob").realname, "");  // no space: left as it was
    EXPECT_FALSE(person("bob").operator_);
    EXPECT_FALSE(person("bob").bot);
    EXPECT_EQ(prefixes("bob"), "");

    EXPECT_EQ(feed(":x 352 me * u h srv dan H :0 Dan"), Changes{});
    EXPECT_EQ(person("dan").realname, "Dan");
    EXPECT_EQ(feed(":x 352 me #zz u h srv eve H :0 Eve"), Changes{});
    EXPECT_TRUE(model.people.contains("eve"));
    EXPECT_EQ(feed(":x 352 me #a u h srv eve"), Changes{});
}

TEST_F(Who, WhoxReply) {
    struct Case {
        const char* account;
        std::optional<std::string> stored;
    } cases[] = {{"acct", "acct"}, {"0", std::nullopt}, {"*", std::nullopt}, {"", ""}};
    for (const auto& c : cases) {
        const std::string line = std::string(":x 354 me 332 #a u h Bob H@ ") + (*c.account ? c.account : ":") +
                                 (*c.account ? " :Real" : "");
        EXPECT_EQ(feed(line), Changes{members("#a")}) << line;
        EXPECT_EQ(person("bob").account, c.stored) << line;
    }
    EXPECT_EQ(prefixes("bob"), "@");
    feed(":x 354 me 332 #a u h bob H acct");  // eight parameters: realname untouched
    EXPECT_EQ(person("bob").realname, "Real");
    feed(":x 352 me #a u h srv bob H :0 Plain");
    EXPECT_EQ(person("bob").account, "acct");  // plain WHO never touches the account

    EXPECT_EQ(feed(":x 354 me 999 #a u h bob H acct :R"), Changes{});
    EXPECT_EQ(feed(":x 354 me 332 #a u h bob H"), Changes{});
    EXPECT_EQ(person("bob").realname, "Plain");
}

}  // namespace
}  // namespace tessel::test
