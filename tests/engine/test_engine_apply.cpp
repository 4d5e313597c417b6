// Applying messages to the model, the send path with labels, and the local echo.
#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<Event>;

TEST(Apply, OwnJoinAsksWhoWithOrWithoutWhox) {
    for (bool whox : {true, false}) {
        Harness h;
        h.register_with({}, whox ? "WHOX" : "NAMESX");
        h.recv(":me!u@h JOIN #a");
        EXPECT_EQ(h.sent(), Lines{whox ? "WHO #a %tcuhnfar,332" : "WHO #a"});
        EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelJoined{"#a"})});
        h.recv(":bob!u@h JOIN #a");
        EXPECT_TRUE(h.sent().empty());
        EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelMembersChanged{"#a"})});
    }
}

TEST(Apply, WhoisRepliesAreQuietOtherUnknownsAreRaw) {
    Harness h;
    h.register_with();
    h.recv(":srv 311 me bob u h * :Bob");
    h.recv(":srv 999 me :what");
    EXPECT_EQ(h.events(), Events{ev(Event::RawLine{msg(":srv 999 me :what")})});
}

TEST(Apply, EveryChangeBecomesOneEventInOrder) {
    Harness h;
    h.register_with();
    h.recv_all({":me!u@h JOIN #b", ":me!u@h JOIN #a", ":bob!u@h JOIN #a", ":bob!u@h JOIN #b"});
    h.drain();
    h.recv(":bob!u@h QUIT :bye");
    EXPECT_EQ(h.events(), (Events{model_changed(Change::ChannelMembersChanged{"#a"}),
                                  model_changed(Change::ChannelMembersChanged{"#b"})}));
}

// The model is a public record: a member list changed by the host between two chunks must be
// noticed by the next chunk (the engine trusts its membership index only while it runs).
TEST(Apply, MembersChangedBetweenChunksAreNoticed) {
    Harness h;
    h.register_with();
    h.recv_all({":me!u@h JOIN #a", ":me!u@h JOIN #b", ":bob!u@h JOIN #a", ":bob!u@h JOIN #b"});
    h.drain();
    h.engine.model.channels.at("#a").members.erase("bob");
    h.recv(":bob!u@h QUIT :bye");
    EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelMembersChanged{"#b"})});
    EXPECT_FALSE(h.engine.model.people.contains("bob"));
    h.recv(":bob!u@h JOIN #a");
    h.engine.model.channels.at("#a").members.clear();
    h.recv(":carol!u@h QUIT :bye");
    EXPECT_FALSE(h.engine.model.people.contains("bob"));  // known nowhere any more
}

TEST(Apply, RenameMovesKeyAndTypingTimers) {
    Harness h;
    h.register_with({"draft/channel-rename"});
    h.recv(":me!u@h JOIN #Old[1]");
    h.engine.channel_keys["#old{1}"] = "key";
    h.recv("@+typing=active :bob!u@h TAGMSG #Old[1]");
    h.recv("@+typing=active :ann!u@h TAGMSG #Old[1]");
    h.recv("@+typing=active :cat!u@h TAGMSG #Old[1]2");  // a neighbouring name stays put
    h.drain();

    h.recv(":srv RENAME #Old[1] #New[1] :tidy");
    EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelRenamed{"#Old[1]", "#New[1]"})});
    EXPECT_EQ(h.engine.channel_keys, (std::map<std::string, std::string, std::less<>>{{"#new{1}", "key"}}));
    std::vector<TimerKey> typing_keys;
    for (const auto& [key, deadline] : h.engine.timers)
        if (std::holds_alternative<TimerKey::Typing>(key.value)) typing_keys.push_back(key);
    EXPECT_EQ(typing_keys, (std::vector<TimerKey>{TimerKey{TimerKey::Typing{"#new{1}", "ann"}},
                                                  TimerKey{TimerKey::Typing{"#new{1}", "bob"}},
                                                  TimerKey{TimerKey::Typing{"#old{1}2", "cat"}}}));

    // The moved typing entries still expire in the renamed channel.
    h.engine.tick(6000, 0);
    EXPECT_EQ(h.events(), (Events{ev(Event::TypingChanged{"#new{1}", "ann", false}),
                                  ev(Event::TypingChanged{"#new{1}", "bob", false})}));
    EXPECT_TRUE(h.engine.model.channels.at("#new{1}").typing.empty());

    h.recv(":srv 001 me :again");
    EXPECT_EQ(h.sent(), Lines{"JOIN #New[1] key"});
}

TEST(Apply, TypingTimersFollowAConversationToTheNewNick) {
    Harness h;
    h.register_with();
    h.recv(":Bob!u@h PRIVMSG me :hello");
    h.recv("@+typing=active :Bob!u@h TAGMSG me");
    h.drain();

    // The conversation, with Bob's typing entry, now lives under "rob".
    h.recv(":Bob!u@h NICK :Rob");
    h.drain();
    EXPECT_EQ(h.engine.timers.count(TimerKey{TimerKey::Typing{"rob", "bob"}}), 1u);
    h.engine.tick(6000, 0);
    EXPECT_EQ(h.events(), Events{ev(Event::TypingChanged{"rob", "bob", false})});
    EXPECT_TRUE(h.engine.model.conversations.at("rob").typing.empty());
}

TEST(Apply, CurrentNickFollowsConfirmedOwnNickChange) {
    Harness h;
    h.register_with();
    h.recv(":ME!u@h NICK :newme");  // case-insensitive match of the own nick
    EXPECT_EQ(h.engine.current_nick, "newme");
    EXPECT_EQ(h.engine.model.me.nick, "newme");
    h.recv(":someone!u@h NICK :other");
    EXPECT_EQ(h.engine.current_nick, "newme");
    h.drain();

    // The keepalive and the local echo use the nick we hold now.
    h.engine.tick(30000, 0);
    EXPECT_EQ(h.sent(), Lines{"PING newme"});
    h.recv(":newme!u@h JOIN #a");
    h.drain();
    h.engine.send_chat(IrcMessage::make("PRIVMSG", "#a", "hi"));
    h.sent();
    const auto& messages = h.engine.model.channels.at("#a").log.messages;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.begin()->sender(), "newme");
    EXPECT_TRUE(messages.begin()->own);
}

TEST(Labels, OnlyWhenEnabled) {
    Harness h;
    h.register_with();
    EXPECT_FALSE(h.engine.send_labeled(IrcMessage::make("WHOIS", "bob")));
    EXPECT_EQ(h.sent(), Lines{"WHOIS bob"});
    EXPECT_EQ(h.engine.label_counter, 0u);
    EXPECT_TRUE(h.engine.pending_labels.empty());

    IrcMessage raw = msg("@label=x PRIVMSG #a :hi");
    h.engine.send_labeled(raw);
    EXPECT_EQ(h.sent(), Lines{"@label=x PRIVMSG #a hi"});
}

TEST(Labels, CountUpAndReplaceOrAppendTheTag) {
    Harness h;
    h.register_with({"labeled-response"});
    h.engine.tick(1000, 0);
    h.engine.send_labeled(IrcMessage::make("WHOIS", "bob"));
    h.engine.send_labeled(msg("@label=x PRIVMSG #a :hi"));
    IrcMessage typing = IrcMessage::make("TAGMSG", "#a");
    typing.tags.push_back(Tag::make("+typing", "active"));
    EXPECT_EQ(h.engine.send_labeled(typing), "l3");
    EXPECT_EQ(typing.tags.size(), 1u);  // the caller's message keeps no label
    EXPECT_EQ(h.sent(), (Lines{"@label=l1 WHOIS bob", "@label=l2 PRIVMSG #a hi", "@+typing=active;label=l3 TAGMSG #a"}));
    EXPECT_EQ(h.engine.pending_labels.at("l1"), (PendingLabel{"WHOIS", std::nullopt, 31000}));
}

TEST(Labels, ExpireOnceByDeadlineThenLabelOrder) {
    Harness h;
    h.register_with({"labeled-response"});
    h.engine.tick(1000, 0);
    for (int i = 1; i <= 10; ++i) h.engine.send_labeled(IrcMessage::make("C" + std::to_string(i)));
    auto& pending = h.engine.pending_labels;
    pending.update(pending.find("l1"), [](PendingLabel& request) { request.deadline = 40000; });
    pending.update(pending.find("l5"), [](PendingLabel& request) { request.deadline = 20000; });
    h.drain();

    h.engine.tick(30999, 0);
    EXPECT_EQ(h.events(), Events{ev(Event::CommandTimedOut{"C5"})});
    h.engine.tick(31000, 0);
    std::vector<std::string> commands;
    for (const auto& e : h.events()) commands.push_back(std::get<Event::CommandTimedOut>(e.value).command);
    // Equal deadlines go in label byte order, so "l10" comes before "l2".
    EXPECT_EQ(commands, (std::vector<std::string>{"C10", "C2", "C3", "C4", "C6", "C7", "C8", "C9"}));
    h.engine.tick(40000, 0);
    EXPECT_EQ(h.events(), Events{ev(Event::CommandTimedOut{"C1"})});
    h.engine.tick(90000, 0);
    EXPECT_EQ(h.events(), Events{ev(Event::LinkDead{})});  // the keepalive; no request reported twice
    EXPECT_TRUE(h.engine.pending_labels.empty());
}

// Seen from a real server: the answer to our labelled NICK names the new nick as its source.
TEST(Labels, AnswerToOwnNickRequestIsOwnNickChange) {
    Harness h(basic_config("labelled1"));
    h.register_with({"labeled-response", "echo-message"});
    h.recv_all({":labelled1!u@127.0.0.1 JOIN #a", ":srv 353 labelled1 = #a :labelled1 other", ":other!o@h JOIN #b"});
    h.drain();
    h.engine.label_counter = 3;
    ASSERT_EQ(h.engine.send_labeled(IrcMessage::make("NICK", "labelled2")), "l4");
    EXPECT_EQ(h.sent(), Lines{"@label=l4 NICK labelled2"});

    h.recv("@label=l4 :labelled2!u@127.0.0.1 NICK :labelled2");
    EXPECT_EQ(h.events(), Events{model_changed(Change::NickChanged{"labelled1", "labelled2"})});
    EXPECT_EQ(h.engine.current_nick, "labelled2");
    EXPECT_EQ(h.engine.model.me.nick, "labelled2");
    EXPECT_TRUE(h.engine.pending_labels.empty());
    const auto& members = h.engine.model.channels.at("#a").members;
    EXPECT_TRUE(members.contains("labelled2"));
    EXPECT_FALSE(members.contains("labelled1"));

    h.recv(":labelled2!u@127.0.0.1 PRIVMSG #a :mine");
    EXPECT_TRUE(h.engine.model.channels.at("#a").log.messages.rbegin()->own);
    h.drain();
    h.recv(":labelled2!u@127.0.0.1 PART #a");
    EXPECT_EQ(h.events(), Events{model_changed(Change::ChannelParted{"#a"})});

    // The label of a request that was no NICK leaves a NICK's source as it is.
    h.engine.send_labeled(IrcMessage::make("WHOIS", "other"));
    h.drain();
    h.recv("@label=l5 :other!o@h NICK :other2");
    EXPECT_EQ(h.events(), Events{model_changed(Change::NickChanged{"other", "other2"})});
    EXPECT_EQ(h.engine.model.me.nick, "labelled2");
}

TEST(LocalEcho, AppliedWithoutEchoMessageAndWithoutLabel) {
    Harness h;
    h.register_with({"labeled-response"});
    h.recv(":me!u@h JOIN #a");
    h.drain();
    h.engine.send_chat(IrcMessage::make("PRIVMSG", "#a", "hello"));
    EXPECT_EQ(h.sent(), Lines{"@label=l1 PRIVMSG #a hello"});
    auto events = h.events();
    ASSERT_EQ(kinds(events), std::vector<std::size_t>{6});
    const auto& messages = h.engine.model.channels.at("#a").log.messages;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.begin()->sender(), "me");
    EXPECT_TRUE(messages.begin()->own);

    // A NOTICE to a target the model does not hold changes nothing: a raw_line of the echo.
    h.engine.send_chat(IrcMessage::make("NOTICE", "#nowhere", "x"));
    h.sent();
    events = h.events();
    ASSERT_EQ(events.size(), 1u);
    const auto& raw = std::get<Event::RawLine>(events[0].value).message;
    EXPECT_TRUE(raw.tags.empty());
    EXPECT_EQ(raw.source, (Source{"me", std::nullopt, std::nullopt}));
}

TEST(LocalEcho, NotWithEchoMessage) {
    Harness h;
    h.register_with({"echo-message"});
    h.recv(":me!u@h JOIN #a");
    h.drain();
    h.engine.send_chat(IrcMessage::make("PRIVMSG", "#a", "hello"));
    EXPECT_EQ(h.sent(), Lines{"PRIVMSG #a hello"});
    EXPECT_TRUE(h.events().empty());
    EXPECT_TRUE(h.engine.model.channels.at("#a").log.messages.empty());
}

}  // namespace
}  // namespace tessel::testing
