// Host command lines wait for registration: set aside when a link comes up, sent right after
// the resume burst that follows 001, in order; raw lines, invitation codes, NICK and QUIT given
// while a link is up, and the engine's own lines go out at once. A drop takes the label off
// every line not yet taken.
#include <algorithm>
#include <functional>

#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;

bool has_timeout(const std::vector<Event>& events) {
    return std::any_of(events.begin(), events.end(),
                       [](const Event& e) { return std::holds_alternative<Event::CommandTimedOut>(e.value); });
}

TEST(HeldLines, CommandsBeforeConnectingAndDuringRegistrationFollowTheResumeBurst) {
    Harness h;
    h.engine.monitor_watched.insert("carol");
    h.engine.model.channel_entry("#old", "#old");
    h.engine.execute(Command::Join{"#early", std::nullopt});
    h.engine.execute(Command::SendRawLine{"PASS hunter2"});
    h.engine.execute(Command::SendMessage{"#early", "hi"});
    h.engine.handle_connected();
    EXPECT_EQ(h.sent(), (Lines{"PASS hunter2", "CAP LS 302", "NICK me", "USER u 0 * R"}));

    h.recv("CAP * LS :");
    h.engine.execute(Command::Whois{"bob"});
    h.engine.execute(Command::WatchNicks{{"dave"}});
    h.engine.execute(Command::RedeemInviteCode{"c0de"});
    h.engine.execute(Command::SendRawLine{"CAP LIST"});
    h.recv("PING :p");
    EXPECT_EQ(h.sent(), (Lines{"CAP END", "INVITECODE c0de", "CAP LIST", "PONG p"}));

    h.recv(":srv 001 me :Welcome");
    EXPECT_EQ(h.sent(), (Lines{"MONITOR + carol,dave", "JOIN #old", "JOIN #early", "PRIVMSG #early hi", "WHOIS bob",
                               "MONITOR + dave"}));
    EXPECT_TRUE(h.engine.held.empty());
    h.engine.execute(Command::Whois{"eve"});
    EXPECT_EQ(h.sent(), Lines{"WHOIS eve"});
}

TEST(HeldLines, LinesLeftByADropAndCommandsGivenWhileDownFollowTheRejoin) {
    Harness h;
    h.register_with({"labeled-response"});
    h.recv(":me!u@h JOIN #a");
    h.drain();
    h.engine.tick(1000, 0);
    h.engine.execute(Command::Whois{"bob"});  // labelled, and not taken before the drop
    h.recv("PING :x");                         // nor is the answer, which dies with the link
    h.engine.handle_disconnected();
    h.engine.execute(Command::Part{"#a", std::nullopt});
    h.engine.execute(Command::SendRawLine{"WEBIRC pw gw host 192.0.2.1"});
    h.engine.handle_connected();
    EXPECT_EQ(h.sent(), (Lines{"WEBIRC pw gw host 192.0.2.1", "CAP LS 302", "NICK me", "USER u 0 * R"}));

    // The new link drops too before 001: what waits goes on waiting.
    h.engine.handle_disconnected();
    h.engine.execute(Command::SetAway{"gone"});
    h.engine.tick(200000, 0);
    h.engine.handle_connected();
    h.recv("CAP * LS :labeled-response");
    h.recv("CAP * ACK :labeled-response");
    EXPECT_EQ(h.sent(), (Lines{"CAP LS 302", "NICK me", "USER u 0 * R", "CAP REQ labeled-response", "CAP END"}));
    EXPECT_FALSE(has_timeout(h.events()));

    h.recv(":srv 001 me :Welcome");
    EXPECT_EQ(h.sent(), (Lines{"JOIN #a", "WHOIS bob", "PART #a", "AWAY gone"}));
    EXPECT_TRUE(h.engine.pending_labels.empty());
}

// A server takes NICK and QUIT before registration, so while a link is up they are how a host
// finishes or leaves one that stalls. Given while down they wait, or the burst's NICK would win.
TEST(HeldLines, NickAndQuitGoOutAtOnceWhileALinkIsUp) {
    struct Case {
        const char* when;
        std::function<void(Harness&)> reach;
        Lines at_once;      // what goes out as the commands are given, or with the burst
        Lines after_welcome;
    };
    const Lines burst{"CAP LS 302", "NICK me", "USER u 0 * R"};
    const Case cases[] = {
        {"down", [](Harness&) {}, burst, {"NICK other", "QUIT bye"}},
        {"negotiating", [](Harness& h) { h.engine.handle_connected(); }, {"NICK other", "QUIT bye"}, {}},
        {"registering",
         [](Harness& h) {
             h.engine.handle_connected();
             h.recv("CAP * LS :");
         },
         {"NICK other", "QUIT bye"}, {}},
        {"registered", [](Harness& h) { h.register_with(); }, {"NICK other", "QUIT bye"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        Harness h;
        c.reach(h);
        h.drain();
        h.engine.execute(Command::SetNick{"other"});
        h.engine.execute(Command::Quit{"bye"});
        if (h.engine.link == LinkState::Down) h.engine.handle_connected();
        EXPECT_EQ(h.sent(), c.at_once);
        if (h.engine.link != LinkState::Registered) {
            h.recv("CAP * LS :");
            h.drain();
            h.recv(":srv 001 me :Welcome");
        }
        EXPECT_EQ(h.sent(), c.after_welcome);
    }
}

TEST(HeldLines, ANickOfTheHostsOwnFinishesARegistrationTheFallbackGaveUpOn) {
    Harness h(basic_config("n"));
    h.engine.handle_connected();
    h.recv("CAP * LS :multi-prefix");
    h.recv("CAP * ACK :multi-prefix");
    for (int i = 0; i < 40; ++i) h.recv(":srv 433 * x :Nickname is already in use");
    ASSERT_TRUE(h.engine.nick_fallback.given_up);
    h.drain();

    h.engine.execute(Command::SetNick{"freshnick"});
    EXPECT_EQ(h.sent(), Lines{"NICK freshnick"});
    h.recv(":srv 001 freshnick :Welcome");
    EXPECT_EQ(h.events(), std::vector<Event>{ev(Event::Registered{"freshnick"})});
    h.engine.execute(Command::Quit{"bye"});
    EXPECT_EQ(h.sent(), Lines{"QUIT bye"});
}

// The engine's own lines made while down, and a burst a second handle_connected finds untaken,
// keep their place when a link comes up: ahead of the new burst, never after its 001.
TEST(HeldLines, TheEnginesOwnLinesStayAheadOfTheNextBurst) {
    struct Case {
        const char* what;
        Config config;
        std::function<void(Harness&)> leave;  // lines the host has not taken when the link comes up
        Lines before_burst;
    };
    Config password = basic_config();
    password.password = "serverpw";
    const Case cases[] = {
        {"a PONG queued while down", basic_config(),
         [](Harness& h) {
             h.register_with();
             h.engine.handle_disconnected();
             h.recv("PING :late");
         },
         {"PONG late"}},
        {"a burst not taken before a second handle_connected", password,
         [](Harness& h) { h.engine.handle_connected(); },
         {"CAP LS 302", "PASS serverpw", "NICK me", "USER u 0 * R"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h(c.config);
        c.leave(h);
        h.engine.execute(Command::Whois{"bob"});
        h.engine.handle_connected();
        Lines expected = c.before_burst;
        expected.push_back("CAP LS 302");
        if (c.config.password) expected.push_back("PASS serverpw");
        expected.insert(expected.end(), {"NICK me", "USER u 0 * R"});
        EXPECT_EQ(h.sent(), expected);
        h.recv("CAP * LS :");
        h.drain();
        h.recv(":srv 001 me :Welcome");
        EXPECT_EQ(h.sent(), Lines{"WHOIS bob"});
    }
}

// A label belongs to the link that negotiated labeled-response: a line not yet taken when that
// link drops goes out later without it, its request forgotten without a timeout, its other tags
// as they were. A request whose line was taken still times out: its answer died with the link.
TEST(HeldLines, ALineNotTakenAtADropLosesItsLabel) {
    struct Case {
        const char* how;
        std::function<void(Harness&)> drop;
    };
    const Case cases[] = {
        {"handle_disconnected", [](Harness& h) { h.engine.handle_disconnected(); }},
        {"handle_connected without it", [](Harness&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Harness h;
        h.register_with({"labeled-response", "message-tags"});
        h.engine.execute(Command::Whois{"carol"});
        EXPECT_EQ(h.sent(), Lines{"@label=l1 WHOIS carol"});  // taken: its request stands

        h.engine.execute(Command::SetAway{"brb"});
        h.engine.execute(Command::SendRawLine{"@label=mine;+draft/x=1 TAGMSG #a"});
        h.engine.execute(Command::SetTyping{"#a", TypingState::Active});
        c.drop(h);
        h.engine.handle_connected();  // to a server without labeled-response or message-tags
        EXPECT_EQ(h.sent(), (Lines{"@+draft/x=1 TAGMSG #a", "CAP LS 302", "NICK me", "USER u 0 * R"}));
        EXPECT_EQ(h.engine.pending_labels.size(), 1u);
        EXPECT_TRUE(h.engine.pending_labels.contains("l1"));

        h.recv("CAP * LS :");
        h.drain();
        h.recv(":srv 001 me :Welcome");
        EXPECT_EQ(h.sent(), (Lines{"AWAY brb", "@+typing=active TAGMSG #a"}));
        h.events();
        h.engine.tick(100000, 0);
        EXPECT_EQ(h.events(), std::vector<Event>{ev(Event::CommandTimedOut{"WHOIS"})});
    }
}

TEST(HeldLines, AWaitingRequestIsTimedFromWhenItGoesOut) {
    Harness h;
    h.engine.tick(1000, 0);
    h.engine.handle_connected();
    h.recv("CAP * LS :labeled-response");
    h.recv("CAP * ACK :labeled-response");
    h.drain();
    h.engine.execute(Command::Whois{"bob"});
    EXPECT_TRUE(h.sent().empty());
    h.engine.tick(60000, 0);  // long past the answer time of a request sent at the call
    EXPECT_FALSE(has_timeout(h.events()));
    EXPECT_EQ(h.sent(), Lines{"PING me"});  // the keepalive does not wait

    h.recv(":srv 001 me :Welcome");
    EXPECT_EQ(h.sent(), Lines{"@label=l1 WHOIS bob"});
    h.events();
    h.engine.tick(89999, 0);
    EXPECT_TRUE(h.events().empty());
    h.engine.tick(90000, 0);
    EXPECT_EQ(h.events(), std::vector<Event>{ev(Event::CommandTimedOut{"WHOIS"})});
}

}  // namespace
}  // namespace tessel::testing
