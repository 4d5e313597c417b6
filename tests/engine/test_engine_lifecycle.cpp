// Construction, the registration burst, disconnect back-off, the clock and its timers, and
// refused nicks.
#include <algorithm>
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

TEST(HandleConnected, QueuesBurstBehindRawLinesAndArmsIdle) {
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
        h.engine.execute(Command::SendRawLine{"WEBIRC pw gw host 192.0.2.1"});
        h.engine.execute(Command::Join{"#early", std::nullopt});  // set aside until 001
        h.engine.tick(500, 0);
        h.engine.handle_connected();
        Lines expected{"WEBIRC pw gw host 192.0.2.1"};
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
    h.engine.timers.insert_or_assign(TimerKey{TimerKey::Typing{"#a", "bob"}}, 100);
    h.engine.timers.insert_or_assign(TimerKey{TimerKey::Reconnect{}}, 100);
    h.engine.timers.insert_or_assign(TimerKey{TimerKey::Typing{"#a", "al"}}, 50);
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

// A server answering the NICK lines the engine sends: a nick longer than `nicklen` is cut to it
// (or refused as erroneous), and a taken one is refused as in use.
struct NickServer {
    std::size_t nicklen;
    bool cuts;
    Lines taken;
    bool all_taken = false;
};

// Connects and answers every NICK until the engine registers (the nick it got) or stops sending
// (nothing); `tried` collects the nicks sent.
std::optional<std::string> register_against(Harness& h, const NickServer& server, Lines& tried,
                                            std::string_view isupport = "") {
    h.engine.handle_connected();
    if (!isupport.empty()) h.recv(":srv 005 * " + std::string(isupport) + " :are supported");
    for (int round = 0; round < 1000; ++round) {
        std::optional<std::string> nick;
        for (auto& line : h.sent())
            if (line.starts_with("NICK ")) nick = line.substr(5);
        if (!nick) return std::nullopt;
        tried.push_back(*nick);
        if (nick->size() > server.nicklen) {
            if (!server.cuts) {
                h.recv(":srv 432 * " + *nick + " :Erroneous nickname");
                continue;
            }
            nick->resize(server.nicklen);
        }
        if (server.all_taken || std::ranges::count(server.taken, *nick) > 0) {
            h.recv(":srv 433 * " + *nick + " :Nickname is already in use");
            continue;
        }
        h.recv(":srv 001 " + *nick + " :Welcome");
        return nick;
    }
    ADD_FAILURE() << "the engine kept sending NICK";
    return std::nullopt;
}

TEST(NickRejected, FallbackKeepsWithinTheServersLengthAndStops) {
    const std::string n30 = "abcdefghijklmnopqrstuvwxyz0123";
    const std::string n29 = n30.substr(0, 29);
    struct Case {
        const char* name;
        std::string nick;
        Lines alt_nicks;
        NickServer server;
        std::string isupport;
        Lines tried;  // after the configured nick
        std::optional<std::string> registered;
    };
    const Case cases[] = {
        {"cut at NICKLEN 30, the 30-character nick taken", n30, {}, {30, true, {n30}}, "",
         {n30 + "_", n29 + "_"}, n29 + "_"},
        {"cut, the cut variants taken too", n30, {}, {30, true, {n30, n29 + "_", n30.substr(0, 28) + "__"}}, "",
         {n30 + "_", n29 + "_", n30.substr(0, 28) + "__", n29 + "1"}, n29 + "1"},
        {"432 to a nick one character too long", "ninechars", {}, {9, false, {"ninechars"}}, "",
         {"ninechars_", "ninechar_"}, "ninechar_"},
        {"432 to a configured nick far too long", "averylongnick", {}, {9, false, {}}, "",
         {"averylongnick_", "averylongnic_", "averylongni_", "averylongn_", "averylong_", "averylon_"}, "averylon_"},
        {"NICKLEN already known", "ninechars", {}, {9, false, {"ninechars"}}, "NICKLEN=9", {"ninechar_"}, "ninechar_"},
        {"an alternative already refused is skipped", "n", {"n", "alt", "ALT"}, {30, true, {"n", "alt"}}, "",
         {"alt", "alt_"}, "alt_"},
        {"every nick taken: the bounded tries, then nothing", "n", {"a"}, {30, true, {}, true}, "",
         {"a", "a_", "a__", "a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "a_1", "a_2", "a_3", "a_4", "a_5"},
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Config config = basic_config(c.nick);
        config.alt_nicks = c.alt_nicks;
        Harness h(config);
        Lines tried;
        EXPECT_EQ(register_against(h, c.server, tried, c.isupport), c.registered);
        Lines expected{c.nick};
        expected.insert(expected.end(), c.tried.begin(), c.tried.end());
        EXPECT_EQ(tried, expected);
        EXPECT_LE(tried.size(), 1 + c.alt_nicks.size() + kMaxFallbackTries);
        std::size_t nick_in_use = 0;
        for (const auto& e : h.events()) nick_in_use += std::holds_alternative<Event::NickInUse>(e.value);
        EXPECT_EQ(nick_in_use, tried.size() - 1);  // one for every try made
    }
}

TEST(NickRejected, FloodOfRefusalsQueuesAtMostTheBound) {
    Harness h(basic_config("flooded"));
    h.engine.handle_connected();
    h.drain();
    std::string flood;
    for (int i = 0; i < 20000; ++i) {
        // The server names the configured nick, some other nick, ours cut short, or none at all.
        switch (i % 4) {
            case 0: flood += ":srv 433 * flooded :in use\r\n"; break;
            case 1: flood += ":srv 433 * other" + std::to_string(i) + " :in use\r\n"; break;
            case 2: flood += ":srv 432 * flood :erroneous\r\n"; break;
            default: flood += ":srv 433 *\r\n"; break;
        }
    }
    h.engine.handle_bytes(flood);
    Lines sent = h.sent();
    EXPECT_LE(sent.size(), kMaxFallbackTries);
    for (const auto& line : sent) {
        EXPECT_TRUE(line.starts_with("NICK ")) << line;
        EXPECT_LE(line.size(), std::string("NICK flooded").size() + 2) << line;
    }
    const Events events = h.events();
    std::size_t nick_in_use = 0;
    for (const auto& e : events) nick_in_use += std::holds_alternative<Event::NickInUse>(e.value);
    EXPECT_EQ(nick_in_use, sent.size());
    EXPECT_EQ(events.size(), 20000u);  // the refusals after giving up pass on as raw lines
    EXPECT_TRUE(std::holds_alternative<Event::RawLine>(events.back().value));
    EXPECT_LE(h.engine.nick_fallback.refused.size(), 2 * (kMaxFallbackTries + 1));
}

TEST(NickRejected, NewConnectionStartsOver) {
    Harness h(basic_config("n"));
    Lines first;
    EXPECT_EQ(register_against(h, {30, true, {}, true}, first), std::nullopt);
    EXPECT_EQ(first.size(), 1 + kMaxFallbackTries);
    h.engine.handle_disconnected();
    h.drain();
    Lines second;
    EXPECT_EQ(register_against(h, {30, true, {"n"}}, second), "n_");
    EXPECT_EQ(second, (Lines{"n", "n_"}));
}

TEST(FallbackNick, CutsTheStemOnCharacterBoundariesAndSkipsRefused) {
    struct Case {
        std::string stem;
        std::optional<std::size_t> max_len;
        FoldedNicks refused;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"n", std::nullopt, {}, "n_"},
        {"N[", std::nullopt, {"n{_", "n{__"}, "N[1"},  // refused nicks are folded
        {"abc", 3, {}, "ab_"},
        {"abc", 3, {"ab_"}, "a__"},
        {"abc", 2, {"a_"}, "a1"},      // a two-character suffix leaves no room for the stem
        {"abc", 1, {}, std::nullopt},  // no room for any of the stem
        {"a\xc3\xa9", 3, {}, "a_"},     // not cut inside the two bytes of U+00E9
        {"", std::nullopt, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stem);
        EXPECT_EQ(fallback_nick(c.stem, c.max_len, CaseMapping::Rfc1459, c.refused), c.expected);
    }
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
