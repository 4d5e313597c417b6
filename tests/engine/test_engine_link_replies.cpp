// Replies read against what the current link has sent and joined: nick refusals once the host
// sent a nick of its own, refused joins of a channel kept across a reconnect, and 305/306.
#include <functional>

#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<Event>;

Event raw(std::string_view line) { return ev(Event::RawLine{msg(line)}); }

// The nick the host sends while we register ends the fallback for that link, whatever road it
// takes; a late refusal of an earlier try then reaches the host.
TEST(HostNick, EndsTheFallbackOnItsLink) {
    struct Case {
        const char* what;
        Command command;
        Lines sent;
    };
    const Case cases[] = {
        {"set_nick", Command{Command::SetNick{"mine"}}, {"NICK mine"}},
        {"raw NICK", Command{Command::SendRawLine{"nick mine"}}, {"nick mine"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Config config = basic_config();
        config.alt_nicks = {"alt1"};
        Harness h(config);
        h.engine.handle_connected();
        h.drain();
        h.recv(":srv 433 * me :Nickname is already in use");
        EXPECT_EQ(h.events(), Events{ev(Event::NickInUse{"me", "alt1"})});
        EXPECT_EQ(h.sent(), Lines{"NICK alt1"});

        h.engine.execute(c.command);
        EXPECT_EQ(h.sent(), c.sent);
        h.recv(":srv 433 * alt1 :Nickname is already in use");
        h.recv(":srv 433 * mine :Nickname is already in use");
        EXPECT_EQ(h.sent(), Lines{});
        EXPECT_EQ(h.events(), (Events{raw(":srv 433 * alt1 :Nickname is already in use"),
                                      raw(":srv 433 * mine :Nickname is already in use")}));
    }
}

TEST(HostNick, LeavesTheFallbackAloneWhenGivenWhileDownAndTheNextLinkStartsOver) {
    Config config = basic_config();
    config.alt_nicks = {"alt1", "alt2"};
    Harness h(config);

    // Down: the nick waits for 001, so the burst's NICK and the fallback run as ever.
    h.engine.execute(Command::SetNick{"later"});
    h.engine.handle_connected();
    h.drain();
    h.recv(":srv 433 * me :Nickname is already in use");
    EXPECT_EQ(h.sent(), Lines{"NICK alt1"});

    // Registering: the host's nick ends this link's fallback...
    h.engine.execute(Command::SetNick{"mine"});
    h.drain();
    h.recv(":srv 433 * alt1 :Nickname is already in use");
    EXPECT_EQ(h.sent(), Lines{});

    // ...and the next link tries again.
    h.engine.handle_disconnected();
    h.engine.handle_connected();
    h.drain();
    h.recv(":srv 433 * me :Nickname is already in use");
    EXPECT_EQ(h.events(), Events{ev(Event::NickInUse{"me", "alt2"})});
    EXPECT_EQ(h.sent(), Lines{"NICK alt2"});
}

// Joined "#c" on the first link, with a message in its log; the second link is registered and
// has sent the resume burst's JOIN.
Harness rejoining() {
    Harness h;
    h.register_with();
    h.recv(":me!u@h JOIN #c");
    h.recv(":bob!u@h PRIVMSG #c :before the drop");
    h.engine.handle_disconnected();
    h.register_with();
    return h;
}

bool holds(Harness& h, std::string_view key) { return h.engine.model.channels.contains(key); }

const char* const kRefusals[] = {"403", "405", "437", "471", "473", "474", "475", "476", "477", "489", "442"};

TEST(Rejoin, ARefusalRemovesTheChannelAsOurPartWould) {
    for (const char* numeric : kRefusals) {
        SCOPED_TRACE(numeric);
        Harness h = rejoining();
        h.recv(std::string(":srv ") + numeric + " me #C :Cannot join channel");
        EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelParted{"#C"})});
        EXPECT_FALSE(holds(h, "#c"));
        EXPECT_EQ(h.sent(), Lines{});

        // Gone for good: the next link does not try it again.
        h.engine.handle_disconnected();
        h.engine.handle_connected();
        h.recv("CAP * LS :");
        h.drain();
        h.recv(":srv 001 me :Welcome");
        EXPECT_EQ(h.sent(), Lines{});
    }
}

TEST(Rejoin, ARefusalOfAChannelNotHeldStaysARawLine) {
    for (const char* numeric : kRefusals) {
        SCOPED_TRACE(numeric);
        Harness h = rejoining();
        const std::string line = std::string(":srv ") + numeric + " me #other :Cannot join channel";
        h.recv(line);
        h.recv(std::string(":srv ") + numeric + " me");  // no channel named at all
        EXPECT_EQ(h.events(), (Events{raw(line), raw(std::string(":srv ") + numeric + " me")}));
        EXPECT_TRUE(holds(h, "#c"));
    }
}

TEST(Rejoin, ARejoinThatSucceedsKeepsTheChannelAgainstLaterRefusals) {
    Harness h = rejoining();
    h.recv(":me!u@h JOIN #c");
    h.drain();
    // A later JOIN of the host's own, refused although we are in: the channel stays. A 442
    // contradicts the JOIN, and the server has the last word.
    for (const char* numeric : kRefusals) {
        const std::string line = std::string(":srv ") + numeric + " me #c :Cannot join channel";
        h.recv(line);
        if (std::string_view(numeric) == "442") {
            EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelParted{"#c"})});
            EXPECT_FALSE(holds(h, "#c"));
        } else {
            EXPECT_EQ(h.events(), Events{raw(line)}) << numeric;
            ASSERT_TRUE(holds(h, "#c"));
            EXPECT_EQ(h.engine.model.channels.at("#c").log.messages.size(), 1u);
        }
    }
}

TEST(Rejoin, JoinedOnThisLinkFollowsPartsRenamesAndTheNextLink) {
    Harness h = rejoining();
    h.recv(":me!u@h JOIN #c");
    h.recv(":me!u@h PART #c");
    h.recv(":me!u@h JOIN #c");
    h.recv(":srv RENAME #c #d :moved");
    h.drain();
    h.recv(":srv 473 me #d :Cannot join channel (+i)");
    EXPECT_EQ(h.events(), Events{raw(":srv 473 me #d :Cannot join channel (+i)")});  // joined here, as #c

    h.engine.handle_disconnected();
    h.register_with();
    h.recv(":srv 473 me #d :Cannot join channel (+i)");
    EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelParted{"#d"})});
}

TEST(OwnAway, ServerRepliesStandForOurAwayLine) {
    struct Case {
        const char* what;
        std::function<void(Harness&)> before;  // once registered, before joining "#c" and the reply
        std::string reply;
        std::optional<std::string> away;
    };
    const Case cases[] = {
        {"306 after set_away",
         [](Harness& h) {
             h.engine.execute(Command::SetAway{"brb"});
             h.drain();  // taken: the AWAY goes out on this link
         },
         ":srv 306 me :You have been marked as being away", "brb"},
        {"306 after a raw AWAY",
         [](Harness& h) {
             h.engine.execute(Command::SendRawLine{"away :gone fishing"});
             h.drain();
         },
         ":srv 306 me :You have been marked as being away", "gone fishing"},
        {"306 without an AWAY of ours", [](Harness&) {}, ":srv 306 me :You have been marked as being away", ""},
        {"306 for an AWAY of the last link",
         [](Harness& h) {
             h.engine.execute(Command::SetAway{"brb"});
             h.drain();
             h.engine.handle_disconnected();
             h.register_with();
         },
         ":srv 306 me :You have been marked as being away", ""},
        {"306 for an AWAY given while down",
         [](Harness& h) {
             h.engine.handle_disconnected();
             h.engine.execute(Command::SetAway{"brb"});
             h.register_with();
         },
         ":srv 306 me :You have been marked as being away", "brb"},
        {"305 after an own AWAY line",
         [](Harness& h) {
             h.recv(":me!u@h AWAY :was here");
             h.engine.execute(Command::SetAway{std::nullopt});
             h.drain();
         },
         ":srv 305 me :You are no longer marked as being away", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        h.register_with();
        c.before(h);
        h.recv(":me!u@h JOIN #c");
        h.recv(":srv 353 me = #c :@me bob");
        h.drain();
        h.recv(c.reply);
        EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelMembersChanged{"#c"})});
        EXPECT_EQ(h.engine.model.me.away, c.away);
        EXPECT_EQ(h.engine.model.people.at("me").away.as_optional(), c.away);
    }
}

TEST(OwnAway, InNoChannelTheReplyIsARawLineAndStillCounts) {
    Harness h;
    h.register_with();
    h.engine.execute(Command::SetAway{"brb"});
    h.drain();
    h.recv(":srv 306 me :You have been marked as being away");
    EXPECT_EQ(h.events(), Events{raw(":srv 306 me :You have been marked as being away")});
    EXPECT_EQ(h.engine.model.me.away, "brb");

    // An AWAY line from ourselves still counts, and a 305 clears what it set.
    h.recv(":me!u@h AWAY :other");
    EXPECT_EQ(h.engine.model.me.away, "other");
    h.recv(":srv 305 me :You are no longer marked as being away");
    EXPECT_EQ(h.engine.model.me.away, std::nullopt);
}

}  // namespace
}  // namespace tessel::testing
