// Host command lines wait for registration: set aside when a link comes up, sent right after
// the resume burst that follows 001, in order; raw lines, invitation codes and the engine's own
// lines go out at once.
#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;

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
    h.recv("PING :x");                         // nor is the answer
    h.engine.handle_disconnected();
    h.engine.execute(Command::Part{"#a", std::nullopt});
    h.engine.execute(Command::SendRawLine{"WEBIRC pw gw host 192.0.2.1"});
    h.engine.handle_connected();
    EXPECT_EQ(h.sent(), (Lines{"WEBIRC pw gw host 192.0.2.1", "CAP LS 302", "NICK me", "USER u 0 * R"}));

    // The new link drops too before 001: what waits goes on waiting, and its request with it.
    h.engine.handle_disconnected();
    h.engine.execute(Command::SetAway{"gone"});
    h.engine.tick(200000, 0);
    h.engine.handle_connected();
    h.recv("CAP * LS :labeled-response");
    h.recv("CAP * ACK :labeled-response");
    EXPECT_EQ(h.sent(), (Lines{"CAP LS 302", "NICK me", "USER u 0 * R", "CAP REQ labeled-response", "CAP END"}));
    for (const Event& event : h.events()) EXPECT_FALSE(std::holds_alternative<Event::CommandTimedOut>(event.value));

    h.recv(":srv 001 me :Welcome");
    EXPECT_EQ(h.sent(), (Lines{"JOIN #a", "@label=l1 WHOIS bob", "PONG x", "PART #a", "AWAY gone"}));
    EXPECT_EQ(h.engine.pending_labels.at("l1").deadline, 230000u);
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
    EXPECT_TRUE(h.events().empty());
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
