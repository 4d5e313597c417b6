// Construction, the registration burst, disconnect back-off, the clock and its timers, and
// refused nicks.
#include <limits>

#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<Event>;

TEST(EngineNew, FillsUsernameAndRealnameAndClampsModelRetention) {
    Config config;
    config.nick = "n";
    config.retention = 0;
    Engine engine(config);
    EXPECT_EQ(engine.config.username, "n");
    EXPECT_EQ(engine.config.realname, "n");
    EXPECT_EQ(engine.config.retention, 0u);
    EXPECT_EQ(engine.model.retention, 1u);
    EXPECT_EQ(engine.model.me.nick, "n");
    EXPECT_EQ(engine.current_nick, "n");

    Engine kept(basic_config("n"));
    EXPECT_EQ(kept.config.username, "u");
    EXPECT_EQ(kept.config.realname, "R");
    EXPECT_EQ(kept.model.retention, 5000u);
}

TEST(EngineNew, StartsQuietAndDown) {
    Engine engine(basic_config());
    EXPECT_EQ(engine.link, LinkState::Down);
    EXPECT_FALSE(engine.poll_transmit());
    EXPECT_TRUE(engine.poll_events().empty());
    EXPECT_FALSE(engine.poll_timeout());
}

TEST(EngineQueue, OneEntryPerLineInOrderWithoutLimit) {
    Engine engine(basic_config());
    engine.queue_line(IrcMessage::make("PING", "x"));
    std::string long_text(600, 'a');
    engine.queue_line(IrcMessage::make("PRIVMSG", "#a", long_text));
    EXPECT_EQ(engine.poll_transmit(), "PING x\r\n");
    EXPECT_EQ(engine.poll_transmit(), "PRIVMSG #a " + long_text + "\r\n");
    EXPECT_FALSE(engine.poll_transmit());
}

TEST(HandleConnected, QueuesBurstBehindEarlierLinesAndArmsIdle) {
    struct Case {
        std::optional<std::string> password;
        std::string realname;
        Lines burst;
    };
    const Case cases[] = {
        {std::nullopt, "R", {"CAP LS 302", "NICK n", "USER u 0 * R"}},
        {"secret", "R", {"CAP LS 302", "PASS secret", "NICK n", "USER u 0 * R"}},
        {"", "A B", {"CAP LS 302", "PASS :", "NICK n", "USER u 0 * :A B"}},
    };
    for (const auto& c : cases) {
        Config config = basic_config("n");
        config.password = c.password;
        config.realname = c.realname;
        Harness h(config);
        h.engine.queue_line(IrcMessage::make("JOIN", "#early"));
        h.engine.tick(500, 0);
        h.engine.handle_connected();
        Lines expected{"JOIN #early"};
        expected.insert(expected.end(), c.burst.begin(), c.burst.end());
        EXPECT_EQ(h.sent(), expected);
        EXPECT_EQ(h.engine.link, LinkState::Negotiating);
        EXPECT_EQ(h.engine.timers.size(), 1u);
        EXPECT_EQ(h.engine.poll_timeout(), 30500u);
    }
}

TEST(HandleConnected, UsesConfiguredNickNotTheCurrentOne) {
    Config config = basic_config("n");
    config.alt_nicks = {"alt"};
    Harness h(config);
    h.engine.handle_connected();
    h.recv(":srv 433 * n :in use");
    h.engine.handle_disconnected();
    h.drain();
    h.engine.handle_connected();
    EXPECT_EQ(h.sent(), (Lines{"CAP LS 302", "NICK n", "USER u 0 * R"}));
    EXPECT_EQ(h.engine.current_nick, "alt");
}

TEST(HandleConnected, NewTransportDropsPartialLineAndPendingDiscard) {
    Harness h;
    h.engine.handle_connected();
    h.drain();
    h.engine.handle_bytes("PING :half-a-li");  // the old transport dies mid-line
    h.engine.handle_disconnected();
    h.engine.handle_connected();
    h.drain();
    h.recv("PING :fresh");
    EXPECT_EQ(h.sent(), (Lines{"PONG fresh"}));

    h.engine.handle_bytes(std::string(9000, 'x'));  // given up: the rest of it is being discarded
    EXPECT_TRUE(h.engine.discarding);
    h.engine.handle_disconnected();
    h.engine.handle_connected();
    h.drain();
    h.recv("PING :first");  // the new server's first line is not taken for that tail
    EXPECT_EQ(h.sent(), (Lines{"PONG first"}));
}

TEST(HandleDisconnected, BacksOffThenAbandons) {
    Harness h;
    std::vector<std::uint64_t> delays;
    for (int i = 0; i < 100; ++i) {
        h.engine.handle_disconnected();
        auto events = h.events();
        ASSERT_EQ(events.size(), 1u);
        delays.push_back(std::get<Event::ReconnectAfter>(events[0].value).after_ms);
    }
    const std::vector<std::uint64_t> first{2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000};
    EXPECT_EQ(std::vector<std::uint64_t>(delays.begin(), delays.begin() + 9), first);
    EXPECT_EQ(delays.back(), 300000u);
    EXPECT_EQ(h.engine.poll_timeout(), 300000u);

    h.engine.handle_disconnected();
    EXPECT_EQ(h.events(), Events{ev(Event::ReconnectAbandoned{})});
    EXPECT_EQ(h.engine.reconnect_attempts, 100u);
    // The Reconnect timer of the last counted attempt still fires.
    h.engine.tick(300000, 0);
    EXPECT_EQ(h.events(), Events{ev(Event::ReconnectAfter{0})});
    h.engine.handle_disconnected();
    EXPECT_EQ(h.events(), Events{ev(Event::ReconnectAbandoned{})});
    EXPECT_FALSE(h.engine.poll_timeout());

    h.engine.handle_connected();
    h.engine.handle_disconnected();
    EXPECT_EQ(h.events(), Events{ev(Event::ReconnectAfter{2000})});
}

TEST(HandleDisconnected, DelayDoesNotOverflow) {
    Harness h;
    h.engine.reconnect_max_ms = std::numeric_limits<std::uint64_t>::max();
    h.engine.max_reconnect_attempts = 200;
    h.engine.reconnect_attempts = 70;
    h.engine.tick(5, 0);
    h.engine.handle_disconnected();
    EXPECT_EQ(h.events(), Events{ev(Event::ReconnectAfter{std::numeric_limits<std::uint64_t>::max()})});
    EXPECT_EQ(h.engine.poll_timeout(), std::numeric_limits<std::uint64_t>::max());
}

TEST(HandleDisconnected, DropsConnectionStateAndKeepsTheRest) {
    Harness h;
    h.register_with({"draft/chathistory"});
    h.recv(":me!u@h JOIN #a");
    h.recv(":bob!u@h JOIN #a");
    h.recv(":srv 311 me bob u h * :Bob");
    h.recv("BATCH +b1 chathistory");
    h.recv("@batch=b1 :bob!u@h PRIVMSG #a :held");
    h.engine.update_monitor({"carol"}, true);
    h.recv(":srv 730 me :carol");
    h.engine.handle_bytes("PING :part");
    h.drain();

    h.engine.handle_disconnected();
    EXPECT_EQ(h.engine.link, LinkState::Down);
    EXPECT_TRUE(h.engine.caps.enabled.empty());
    EXPECT_TRUE(h.engine.batches.empty());
    EXPECT_TRUE(h.engine.monitor_online.empty());
    EXPECT_EQ(h.engine.monitor_watched.size(), 1u);
    EXPECT_TRUE(h.engine.model.whois.empty());
    ASSERT_EQ(h.engine.model.channels.count("#a"), 1u);
    EXPECT_TRUE(h.engine.model.channels.at("#a").members.empty());
    EXPECT_EQ(h.engine.recv_buf, "PING :part");
    EXPECT_EQ(h.engine.current_nick, "me");
    // The held member is never applied, not even by a closing line on the next connection.
    h.events();
    h.recv("BATCH -b1");
    EXPECT_TRUE(h.events().empty());
}

TEST(Tick, IdlePingThenLinkDead) {
    Harness h;
    h.engine.handle_connected();
    h.drain();
    h.engine.tick(100000, 0);
    EXPECT_EQ(h.sent(), (Lines{"PING me"}));
    EXPECT_TRUE(h.events().empty());
    EXPECT_EQ(h.engine.poll_timeout(), 110000u);
    EXPECT_EQ(h.engine.timers.size(), 1u);  // Idle is not re-armed by firing
    h.engine.tick(110000, 0);
    EXPECT_EQ(h.events(), Events{ev(Event::LinkDead{})});
    EXPECT_FALSE(h.engine.poll_timeout());
}

TEST(Tick, ReceivedLineCancelsPingTimeout) {
    Harness h;
    h.engine.handle_connected();
    h.engine.tick(30000, 0);
    h.drain();
    h.engine.tick(35000, 0);
    h.recv(":srv PONG srv :me");
    EXPECT_EQ(h.engine.timers.size(), 1u);
    EXPECT_EQ(h.engine.poll_timeout(), 65000u);
    h.engine.tick(64999, 0);
    EXPECT_TRUE(h.events().empty());
    EXPECT_TRUE(h.sent().empty());
}

TEST(Tick, UnixClockNeverGoesBackAndMonotonicIsStoredAsGiven) {
    Harness h;
    h.engine.tick(1000, 5000);
    h.engine.tick(10, 4000);
    EXPECT_EQ(h.engine.unix_ms, 5000u);
    EXPECT_EQ(h.engine.now_ms, 10u);
}

TEST(Tick, DueTimersFireByDeadlineThenKeyOrder) {
    Harness h;
    h.engine.timers[TimerKey{TimerKey::Typing{"#a", "bob"}}] = 100;
    h.engine.timers[TimerKey{TimerKey::Reconnect{}}] = 100;
    h.engine.timers[TimerKey{TimerKey::Typing{"#a", "al"}}] = 50;
    h.engine.model.channel_entry("#a", "#a");
    h.engine.model.set_typing_member("#a", "bob", true);
    h.engine.model.set_typing_member("#a", "al", true);
    h.engine.tick(100, 0);
    EXPECT_EQ(h.events(), (Events{ev(Event::TypingChanged{"#a", "al", false}), ev(Event::ReconnectAfter{0}),
                                  ev(Event::TypingChanged{"#a", "bob", false})}));
    EXPECT_TRUE(h.engine.timers.empty());
}

TEST(Tick, TimersFireBeforeLabelExpiry) {
    Harness h;
    h.register_with({"labeled-response"});
    h.engine.send_labeled(IrcMessage::make("WHOIS", "bob"));
    h.drain();
    h.engine.tick(30000, 0);  // Idle (armed at 0 + 30000) and the label are due together
    EXPECT_EQ(h.sent(), (Lines{"PING me"}));
    EXPECT_EQ(h.events(), Events{ev(Event::CommandTimedOut{"WHOIS"})});
}

TEST(NickRejected, TriesAlternativesThenUnderscores) {
    Config config = basic_config("n");
    config.alt_nicks = {"a", "b"};
    Harness h(config);
    h.engine.handle_connected();
    h.drain();
    struct Step {
        std::string line;
        Event event;
        std::string sent;
    };
    const Step steps[] = {
        {":srv 433 * n :in use", ev(Event::NickInUse{"n", "a"}), "NICK a"},
        {":srv 433 * a :in use", ev(Event::NickInUse{"a", "b"}), "NICK b"},
        {":srv 432 * b :erroneous", ev(Event::NickInUse{"b", "b_"}), "NICK b_"},
        {":srv 433 *", ev(Event::NickInUse{"b_", "b__"}), "NICK b__"},  // one parameter: refused is ours
    };
    for (const auto& step : steps) {
        h.recv(step.line);
        EXPECT_EQ(h.events(), Events{step.event}) << step.line;
        EXPECT_EQ(h.sent(), Lines{step.sent}) << step.line;
    }
    EXPECT_EQ(h.engine.current_nick, "b__");
    EXPECT_EQ(h.engine.model.me.nick, "b__");
}

TEST(NickRejected, AfterRegistrationIsARawLine) {
    Harness h;
    h.register_with();
    h.recv(":srv 433 me other :Nickname is already in use");
    EXPECT_EQ(h.events(), Events{ev(Event::RawLine{msg(":srv 433 me other :Nickname is already in use")})});
    EXPECT_TRUE(h.sent().empty());
}

}  // namespace
}  // namespace tessel::testing
