#include "model_fixture.hpp"

namespace tessel::test {
namespace {

class UserState : public ModelTest {
protected:
    void SetUp() override {
        setup({":me!u@h JOIN #b", ":me!u@h JOIN #a", ":me!u@h JOIN #c", ":x 353 me = #a :me bob",
               ":x 353 me = #b :bob", ":x 353 me = #c :bob"});
    }
};

TEST(TypingMembers, SetAndClear) {
    Model model = Model::make("me", 10);
    model.channel_entry("#a", "#a");
    model.conversation_entry("#a", "#a");  // a key held as both: the channel's set is the one
    model.conversation_entry("bob", "bob");
    EXPECT_TRUE(model.set_typing_member("#a", "bob", true));
    EXPECT_FALSE(model.set_typing_member("#a", "bob", true));
    EXPECT_TRUE(model.conversations.at("#a").typing.empty());
    EXPECT_TRUE(model.set_typing_member("bob", "bob", true));
    EXPECT_TRUE(model.set_typing_member("#a", "bob", false));
    EXPECT_FALSE(model.set_typing_member("#a", "bob", false));
    EXPECT_FALSE(model.set_typing_member("carol", "carol", true));
    EXPECT_FALSE(model.conversations.contains("carol"));
}

TEST_F(UserState, AwayAndAccount) {
    EXPECT_EQ(feed(":Bob!u@h AWAY :lunch"), (Changes{members("#a"), members("#b"), members("#c")}));
    EXPECT_EQ(model.people.at("bob").away, "lunch");
    feed(":bob!u@h AWAY :");
    EXPECT_EQ(model.people.at("bob").away, "");
    feed(":bob!u@h AWAY");
    EXPECT_EQ(model.people.at("bob").away, std::nullopt);
    EXPECT_EQ(feed(":bob!u@h ACCOUNT bobby").size(), 3u);
    EXPECT_EQ(model.people.at("bob").account, "bobby");
    feed(":bob!u@h ACCOUNT *");
    EXPECT_EQ(model.people.at("bob").account, std::nullopt);

    EXPECT_EQ(feed(":stranger!u@h AWAY :x"), Changes{});
    EXPECT_EQ(model.people.at("stranger").away, "x");
    EXPECT_EQ(model.people.at("stranger").nick, "stranger");
}

TEST_F(UserState, OwnAwayAndAccountFollowThePerson) {
    EXPECT_EQ(feed(":ME!u@h ACCOUNT mine"), Changes{members("#a")});
    EXPECT_EQ(model.me.account, "mine");
    EXPECT_EQ(model.me.away, std::nullopt);
    model.me.away = "stale";
    feed(":me!u@h ACCOUNT mine2");
    EXPECT_EQ(model.me.away, std::nullopt);  // refreshed from the person, which was never away
    feed(":me!u@h AWAY :brb");
    EXPECT_EQ(model.me.away, "brb");
    EXPECT_EQ(model.me.account, "mine2");
}

TEST_F(UserState, Metadata) {
    EXPECT_EQ(feed(":x METADATA * avatar * :http://a"), Changes{metadata("me", "avatar")});
    EXPECT_EQ(model.me.metadata.at("avatar"), "http://a");
    EXPECT_EQ(model.people.at("me").metadata.at("avatar"), "http://a");
    EXPECT_EQ(feed(":x METADATA Bob color * :"), Changes{metadata("Bob", "color")});
    EXPECT_EQ(model.people.at("bob").metadata.at("color"), "");
    EXPECT_TRUE(model.me.metadata.size() == 1);
    feed(":x METADATA bob color *");
    EXPECT_FALSE(model.people.at("bob").metadata.contains("color"));
    EXPECT_EQ(feed(":x METADATA #A topic-url * :u"), Changes{metadata("#A", "topic-url")});
    EXPECT_EQ(chan("#a").metadata.at("topic-url"), "u");
    EXPECT_EQ(feed(":x METADATA #zz k * :v"), Changes{});
    EXPECT_EQ(feed(":x METADATA bob"), Changes{});

    EXPECT_EQ(feed(":x 761 me #a k * :v"), Changes{metadata("#a", "k")});
    EXPECT_EQ(chan("#a").metadata.at("k"), "v");
    EXPECT_EQ(feed(":x 766 me #a k * v more :stuff"), Changes{metadata("#a", "k")});
    EXPECT_FALSE(chan("#a").metadata.contains("k"));
    EXPECT_EQ(feed(":x 761 me #zz k * :v"), Changes{});
    EXPECT_EQ(feed(":x 760 me newbie k * :v"), Changes{metadata("newbie", "k")});
    EXPECT_TRUE(model.people.contains("newbie"));
}

TEST_F(UserState, Rename) {
    setup({":bob!u@h PRIVMSG #a :hello", ":x TOPIC #a :t"});
    EXPECT_EQ(feed(":x RENAME #a #New :moved"), Changes{renamed("#a", "#New")});
    EXPECT_FALSE(model.channels.contains("#a"));
    Channel& moved = chan("#new");
    EXPECT_EQ(moved.name, "#New");
    EXPECT_EQ(moved.topic, "t");
    EXPECT_EQ(moved.log.messages.size(), 1u);
    EXPECT_EQ(member_keys("#new"), (std::vector<std::string>{"bob", "me"}));
    // Onto another held channel: that one gives way.
    EXPECT_EQ(feed(":x RENAME #new #b"), Changes{renamed("#new", "#b")});
    EXPECT_EQ(chan("#b").log.messages.size(), 1u);
    EXPECT_EQ(model.channels.size(), 2u);
    EXPECT_EQ(feed(":x RENAME #b #B"), Changes{renamed("#b", "#B")});
    EXPECT_EQ(chan("#b").name, "#B");
    EXPECT_EQ(feed(":x RENAME #zz #yy"), Changes{});
    EXPECT_EQ(feed(":x RENAME #b"), Changes{});
    // The moved members are still found by QUIT under the new key.
    EXPECT_EQ(feed(":bob!u@h QUIT"), (Changes{members("#B"), members("#c")}));
}

}  // namespace
}  // namespace tessel::test
