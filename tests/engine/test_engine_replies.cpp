// 001 and the resume burst, 005, typing notices, and the SASL outcome numerics 900 and 903.
#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<Event>;

TEST(Welcome, SetsNickRegistersAndResumes) {
    Harness h;
    h.engine.handle_connected();
    h.recv("CAP * LS :draft/chathistory message-tags");
    h.recv("CAP * ACK :draft/chathistory message-tags");
    h.recv(":srv 001 me :hi");
    h.recv(":me!u@h JOIN #b");
    h.recv(":me!u@h JOIN #a");
    h.recv("@msgid=m0 :bob!u@h PRIVMSG #a :older");
    h.recv("@msgid=m1 :bob!u@h PRIVMSG #a :newest");
    h.recv("@msgid=m2 :bob!u@h PRIVMSG #b :will be followed by one without msgid");
    h.recv(":bob!u@h PRIVMSG #b :no msgid");
    h.engine.channel_keys["#b"] = "sekrit";
    h.engine.update_monitor({"carol", "Bob"}, true);
    h.engine.metadata_keys = {"avatar", "url"};
    h.drain();

    h.recv(":srv 001 zed :Welcome");
    EXPECT_EQ(h.engine.current_nick, "zed");
    EXPECT_EQ(h.engine.model.me.nick, "zed");
    EXPECT_EQ(h.engine.link, LinkState::Registered);
    EXPECT_EQ(h.events(), Events{ev(Event::Registered{"zed"})});
    EXPECT_EQ(h.sent(), (Lines{"MONITOR + bob,carol", "METADATA * SUB avatar url", "JOIN #a",
                               "CHATHISTORY AFTER #a msgid=m1 100", "JOIN #b sekrit"}));
}

TEST(Welcome, WithoutParametersKeepsNickAndSkipsHistoryWhenNotEnabled) {
    Harness h;
    h.register_with();
    h.recv(":me!u@h JOIN #a");
    h.recv("@msgid=m1 :bob!u@h PRIVMSG #a :hi");
    h.drain();
    h.recv("001");
    EXPECT_EQ(h.events(), Events{ev(Event::Registered{"me"})});
    EXPECT_EQ(h.sent(), Lines{"JOIN #a"});
}

TEST(Welcome, MonitorLinesFollowTheServerLimit) {
    Harness h;
    h.register_with({}, "MONITOR=2");
    h.engine.update_monitor({"a", "b", "c", "d", "e"}, true);
    h.drain();
    h.recv(":srv 001 me :hi");
    EXPECT_EQ(h.sent(), (Lines{"MONITOR + a,b", "MONITOR + c,d", "MONITOR + e"}));
}

TEST(Isupport, OneEventPerTokenAfterApplying) {
    Harness h;
    h.recv(":srv 005 me A=1 -B C CASEMAPPING=ascii :are supported");
    EXPECT_EQ(h.events(), (Events{ev(Event::IsupportToken{"A", "1"}), ev(Event::IsupportToken{"B", std::nullopt}),
                                  ev(Event::IsupportToken{"C", std::nullopt}),
                                  ev(Event::IsupportToken{"CASEMAPPING", "ascii"})}));
    EXPECT_EQ(h.engine.isupport.casemapping, CaseMapping::Ascii);
}

class TypingTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.register_with();
        h.recv(":me!u@h JOIN #chan");
        h.drain();
        h.engine.tick(1000, 0);
    }
    Harness h;
    const TimerKey bob_in_chan{TimerKey::Typing{"#chan", "bob"}};
};

TEST_F(TypingTest, ActiveArmsTimerAndReportsOnlyChanges) {
    h.recv("@+typing=active :Bob!u@h TAGMSG #chan");
    EXPECT_EQ(h.events(), Events{ev(Event::TypingChanged{"#chan", "Bob", true})});
    EXPECT_EQ(h.engine.timers.at(bob_in_chan), 7000u);

    h.engine.tick(2000, 0);
    h.recv("@+typing=active :Bob!u@h TAGMSG #chan");
    EXPECT_TRUE(h.events().empty());
    EXPECT_EQ(h.engine.timers.at(bob_in_chan), 8000u);

    h.recv("@+typing=paused :Bob!u@h TAGMSG #chan");
    EXPECT_EQ(h.events(), Events{ev(Event::TypingChanged{"#chan", "Bob", false})});
    EXPECT_EQ(h.engine.timers.count(bob_in_chan), 0u);
}

TEST_F(TypingTest, ExpiresAfterSixSeconds) {
    h.recv("@+typing=active :Bob!u@h TAGMSG #chan");
    h.events();
    h.engine.tick(6999, 0);
    EXPECT_TRUE(h.events().empty());
    h.engine.tick(7000, 0);
    EXPECT_EQ(h.events(), Events{ev(Event::TypingChanged{"#chan", "bob", false})});
    EXPECT_TRUE(h.engine.model.channels.at("#chan").typing.empty());
}

TEST_F(TypingTest, PrivateNoticeGoesToTheConversationAndUnknownTargetsOnlyTouchTimers) {
    h.recv(":Bob!u@h PRIVMSG me :hello");
    h.events();
    h.recv("@+typing=active :Bob!u@h TAGMSG me");
    EXPECT_EQ(h.events(), Events{ev(Event::TypingChanged{"Bob", "Bob", true})});
    EXPECT_EQ(h.engine.timers.count(TimerKey{TimerKey::Typing{"bob", "bob"}}), 1u);

    h.recv("@+typing=active :Ann!u@h TAGMSG #elsewhere");
    EXPECT_TRUE(h.events().empty());
    EXPECT_EQ(h.engine.timers.count(TimerKey{TimerKey::Typing{"#elsewhere", "ann"}}), 1u);
}

TEST_F(TypingTest, TypingWinsOverOtherTagsAndValueIsCaseSensitive) {
    h.recv("@+typing=Active;+vantaweb/rtc=x :Bob!u@h TAGMSG #chan");
    EXPECT_TRUE(h.events().empty());  // not active, and Bob was not typing
    EXPECT_EQ(h.engine.timers.count(bob_in_chan), 0u);
}

TEST(SaslOutcome, LoggedInAndSuccessOnce) {
    Config config = basic_config();
    config.sasl = Credentials{Credentials::External{}};
    Harness h(config);
    h.engine.handle_connected();
    h.recv("CAP * LS :sasl");
    h.recv("CAP * ACK :sasl");
    h.drain();
    h.recv(":srv 900 me mask acct :You are now logged in");
    EXPECT_EQ(h.events(), Events{ev(Event::LoggedIn{"acct"})});
    EXPECT_EQ(h.engine.sasl, SaslState::MechanismSent);
    h.recv(":srv 903 me :SASL successful");
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
    EXPECT_EQ(h.engine.sasl, SaslState::Finished);
    h.recv(":srv 903 me :SASL successful");
    EXPECT_TRUE(h.sent().empty());
    EXPECT_TRUE(h.events().empty());
}

}  // namespace
}  // namespace tessel::testing
