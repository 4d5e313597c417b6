// What a link that ends leaves behind: the engine's own lines not yet taken go with it, a line
// made while down leads the next link, a chat message that outlives its link is logged once
// whatever the two links negotiated, and a server's msgid that would split the history line
// of the resume burst is not used there.
#include <functional>

#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;

Config sasl_config(std::optional<std::string> password = std::nullopt) {
    Config config = basic_config();
    config.sasl = Credentials{Credentials::Plain{"acct", "secret"}};
    config.password = std::move(password);
    return config;
}

Lines burst(const Config& config) {
    if (config.password) return {"CAP LS 302", "PASS " + *config.password, "NICK me", "USER u 0 * R"};
    return {"CAP LS 302", "NICK me", "USER u 0 * R"};
}

// The link drops and a new one with draft/chathistory registers; what it sent before 001 is taken.
void relink_with_history(Harness& h) {
    h.engine.handle_disconnected();
    h.engine.handle_connected();
    h.recv("CAP * LS :draft/chathistory");
    h.recv("CAP * ACK :draft/chathistory");
    h.drain();
    h.recv(":srv 001 me :Welcome");
}

// Each case leaves the engine's own lines untaken when the link drops; the next link must start
// with its own burst alone, negotiate from nothing, and resume once after its 001.
TEST(LinkDrop, TheEnginesOwnUntakenLinesDieWithTheirLink) {
    struct Case {
        const char* what;
        Config config;
        std::function<void(Harness&)> leave;
        Lines after_welcome;  // what the next link sends after its 001
    };
    const Case cases[] = {
        {"the CAP REQ lines", sasl_config(),
         [](Harness& h) {
             h.engine.handle_connected();
             h.drain();
             h.recv("CAP * LS :sasl message-tags");
         },
         {}},
        {"the SASL payload, on a link with a server password", sasl_config("serverpw"),
         [](Harness& h) {
             h.engine.handle_connected();
             h.recv("CAP * LS :sasl");
             h.recv("CAP * ACK :sasl");
             h.drain();
             h.recv("AUTHENTICATE +");
         },
         {}},
        {"a whole burst", basic_config(), [](Harness& h) { h.engine.handle_connected(); }, {}},
        {"a nick fallback try", basic_config(),
         [](Harness& h) {
             h.engine.handle_connected();
             h.drain();
             h.recv(":srv 433 * me :Nickname is already in use");
         },
         {}},
        {"a PONG, a PING and a WHO", basic_config(),
         [](Harness& h) {
             h.register_with();
             h.recv("PING :x");
             h.recv(":me!u@h JOIN #a");
             h.engine.tick(100000, 0);
         },
         {"JOIN #a"}},
        {"a resume burst", basic_config(),
         [](Harness& h) {
             h.register_with({"draft/chathistory", "monitor", "draft/metadata-2"});
             h.engine.execute(Command::WatchNicks{{"bob"}});
             h.engine.execute(Command::SubscribeMetadata{{"avatar"}});
             h.recv(":me!u@h JOIN #a");
             h.recv("@msgid=m1 :bob!b@h PRIVMSG #a :hi");
             h.drain();
             relink_with_history(h);
         },
         {"MONITOR + bob", "METADATA * SUB avatar", "JOIN #a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h(c.config);
        c.leave(h);
        h.engine.handle_disconnected();
        h.engine.handle_connected();
        EXPECT_EQ(h.sent(), burst(c.config));
        h.recv(":srv 433 * me :Nickname is already in use");  // the new link's own fallback
        EXPECT_EQ(h.sent(), Lines{"NICK me_"});
        h.recv("CAP * LS :");
        EXPECT_EQ(h.sent(), Lines{"CAP END"});
        h.recv(":srv 001 me_ :Welcome");
        EXPECT_EQ(h.sent(), c.after_welcome);
    }
}

// The drop that left CAP REQ lines untaken, followed by a link whose server offers SASL again:
// it logs in before it registers.
TEST(LinkDrop, ALinkAfterOneDroppedMidNegotiationLogsIn) {
    Harness h(sasl_config());
    h.engine.handle_connected();
    h.drain();
    h.recv("CAP * LS :sasl message-tags");
    h.engine.handle_disconnected();
    h.events();

    h.engine.handle_connected();
    h.recv("CAP * LS :sasl message-tags");
    EXPECT_EQ(h.sent(), (Lines{"CAP LS 302", "NICK me", "USER u 0 * R", "CAP REQ message-tags", "CAP REQ sasl"}));
    h.recv("CAP * ACK :message-tags sasl");
    EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE PLAIN"});
    h.recv("AUTHENTICATE +");
    EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE AGFjY3QAc2VjcmV0"});
    h.recv(":srv 900 me me!u@h acct :You are now logged in as acct");
    h.recv(":srv 903 me :SASL authentication successful");
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
    h.recv(":srv 001 me :Welcome");
    EXPECT_EQ(h.events(), (std::vector<Event>{ev(Event::CapabilitiesAcknowledged{{"message-tags", "sasl"}}),
                                              ev(Event::LoggedIn{"acct"}), ev(Event::Registered{"me"})}));
}

// What must not change: lines made while down lead the next burst, even past a second drop;
// handle_connected twice without a drop asks for two bursts; the host's lines stay.
TEST(LinkDrop, LinesMadeWhileDownAndTheHostsLinesOutliveTheDrop) {
    Harness h;
    h.register_with({"labeled-response"});
    h.engine.execute(Command::Whois{"bob"});
    h.engine.execute(Command::SendRawLine{"WEBIRC pw gw host 192.0.2.1"});
    h.engine.handle_disconnected();
    h.recv("PING :late");
    h.engine.handle_disconnected();  // the host's reconnect failed
    h.engine.handle_connected();
    h.engine.handle_connected();
    EXPECT_EQ(h.sent(), (Lines{"WEBIRC pw gw host 192.0.2.1", "PONG late", "CAP LS 302", "NICK me", "USER u 0 * R",
                               "CAP LS 302", "NICK me", "USER u 0 * R"}));
    h.recv("CAP * LS :");
    h.drain();
    h.recv(":srv 001 me :Welcome");
    EXPECT_EQ(h.sent(), Lines{"WHOIS bob"});
}

std::size_t logged(Harness& h, std::string_view text) {
    const Channel& channel = h.engine.model.channels.find("#a")->second;
    std::size_t n = 0;
    for (const LogMessage& m : channel.log.messages) n += m.text() == text;
    return n;
}

// An own message given while down, while registering or on a registered link that drops before
// the line is taken is logged once, whatever echo-message the two links negotiated, and the
// resume burst asks for the history after the newest message received before the outage.
TEST(LinkDrop, AMessageThatOutlivesItsLinkIsLoggedOnce) {
    enum class Given { Down, Registering, Registered };
    struct Case {
        const char* what;
        Given given;
        bool first_echo;   // the link it was given on, or that dropped before it
        bool second_echo;  // the link it goes out on
    };
    const Case cases[] = {
        {"down, then a link with echo-message", Given::Down, false, true},
        {"down, then a link without", Given::Down, true, false},
        {"registering with echo-message, then a link without", Given::Registering, true, false},
        {"registering without echo-message, then a link with", Given::Registering, false, true},
        {"registering without echo-message, then a link without", Given::Registering, false, false},
        {"registered with echo-message, then a link without", Given::Registered, true, false},
        {"registered with echo-message, then a link with", Given::Registered, true, true},
        {"registered without echo-message, then a link without", Given::Registered, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        auto link_up = [&h](bool echo) {
            const std::string caps = echo ? "draft/chathistory echo-message" : "draft/chathistory";
            h.engine.handle_connected();
            h.recv("CAP * LS :" + caps);
            h.recv("CAP * ACK :" + caps);
        };
        link_up(c.first_echo);
        h.recv(":srv 001 me :Welcome");
        h.recv(":me!u@h JOIN #a");
        h.recv("@msgid=m1 :bob!b@h PRIVMSG #a :before");
        h.drain();
        if (c.given != Given::Registered) h.engine.handle_disconnected();
        if (c.given == Given::Registering) link_up(c.first_echo);
        h.drain();
        h.engine.execute(Command::SendMessage{"#a", "hello"});
        EXPECT_EQ(logged(h, "hello"), c.given == Given::Registered && !c.first_echo ? 1u : 0u);
        if (c.given != Given::Down) h.engine.handle_disconnected();

        link_up(c.second_echo);
        h.recv(":srv 001 me :Welcome");
        // Our own echo stored on the registered link is the newest message, and has no msgid.
        Lines tail{"JOIN #a", "CHATHISTORY AFTER #a msgid=m1 100", "PRIVMSG #a hello"};
        if (c.given == Given::Registered && !c.first_echo) tail.erase(tail.begin() + 1);
        Lines sent = h.sent();
        ASSERT_GE(sent.size(), tail.size());
        EXPECT_EQ(Lines(sent.end() - static_cast<std::ptrdiff_t>(tail.size()), sent.end()), tail);
        if (c.second_echo) h.recv("@msgid=e1 :me!u@h PRIVMSG #a :hello");
        EXPECT_EQ(logged(h, "hello"), 1u);
    }
}

// A message given while down that the host takes while still down went out on no link: ours is
// the only echo it gets, as it is for one whose server withdrew echo-message before the line
// was taken. One given while registered and taken there is stored as before.
TEST(LinkDrop, AMessageTakenOnTheLinkItWasGivenOnIsEchoedAsBefore) {
    Harness h;
    h.register_with();
    h.recv(":me!u@h JOIN #a");
    h.drain();
    h.engine.execute(Command::SendMessage{"#a", "now"});
    EXPECT_EQ(logged(h, "now"), 1u);
    EXPECT_EQ(h.sent(), Lines{"PRIVMSG #a now"});

    h.engine.handle_disconnected();
    h.engine.execute(Command::SendMessage{"#a", "nowhere"});
    EXPECT_EQ(logged(h, "nowhere"), 0u);
    EXPECT_EQ(h.sent(), Lines{"PRIVMSG #a nowhere"});
    EXPECT_EQ(logged(h, "nowhere"), 1u);

    Harness echoed;
    echoed.register_with({"echo-message"});
    echoed.recv(":me!u@h JOIN #a");
    echoed.drain();
    echoed.engine.execute(Command::SendMessage{"#a", "late"});
    echoed.recv("CAP * DEL :echo-message");
    EXPECT_EQ(logged(echoed, "late"), 0u);
    EXPECT_EQ(echoed.sent(), Lines{"PRIVMSG #a late"});
    EXPECT_EQ(logged(echoed, "late"), 1u);
}

TEST(LinkDrop, AMsgidThatWouldSplitTheHistoryLineIsNotUsed) {
    struct Case {
        const char* what;
        std::string tag;  // as the server wrote it
        Lines after_join;
    };
    const Case cases[] = {
        {"a space", "m\\sPRIVMSG\\s#victim\\s:spam", {}},
        {"a CR", "m\\r1", {}},
        {"an LF", "m\\n1", {}},
        {"a NUL", std::string("m\0" "1", 3), {}},
        {"a colon", ":m1", {"CHATHISTORY AFTER #d msgid=:m1 100"}},
        {"nothing odd", "m1", {"CHATHISTORY AFTER #d msgid=m1 100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        h.register_with({"draft/chathistory", "message-tags"});
        h.recv(":me!u@h JOIN #d");
        h.recv("@msgid=" + c.tag + " :bob!b@h PRIVMSG #d :hi");
        relink_with_history(h);
        Lines expected{"JOIN #d"};
        expected.insert(expected.end(), c.after_join.begin(), c.after_join.end());
        EXPECT_EQ(h.sent(), expected);
    }
}

TEST(LinkDrop, AChannelNameThatWouldSplitTheResumeLinesIsRejoinedAlone) {
    struct Case {
        const char* what;
        const char* join;  // as the server wrote it
        Lines burst;
    };
    const Case cases[] = {
        {"a space", ":me!u@h JOIN :#d PRIVMSG #victim", {"JOIN :#d PRIVMSG #victim"}},
        {"nothing odd", ":me!u@h JOIN #d", {"JOIN #d k"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h;
        h.register_with({"draft/chathistory", "message-tags"});
        h.recv(c.join);
        ASSERT_EQ(h.engine.model.channels.size(), 1u);
        const std::string& name = h.engine.model.channels.begin()->second.name;
        h.engine.channel_keys[irc_fold(h.engine.isupport.casemapping, name)] = "k";
        relink_with_history(h);
        EXPECT_EQ(h.sent(), c.burst);
    }
}

}  // namespace
}  // namespace tessel::testing
