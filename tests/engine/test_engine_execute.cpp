// The command executor: the lines of every command, their labels, and the state a few keep.
#include <variant>

#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Kinds = std::vector<std::size_t>;

constexpr std::size_t kModelChanged = 6;  // index of Event::ModelChanged

// The line as it goes out with the engine's first label: behind the line's own tags, or as
// the only tag.
std::string with_label(const std::string& line) {
    if (line.starts_with("@")) {
        std::string out = line;
        out.insert(line.find(' '), ";label=l1");
        return out;
    }
    return "@label=l1 " + line;
}

// A registered engine that has joined #a, with or without labels and echo-message.
Harness joined(bool caps) {
    Harness h;
    if (caps)
        h.register_with({"labeled-response", "echo-message"});
    else
        h.register_with();
    h.recv(":me!u@h JOIN #a");
    h.drain();
    return h;
}

TEST(Execute, EveryCommandWithAndWithoutLabels) {
    struct Case {
        Command command;
        Lines lines;
        bool chat = false;      // echoed locally when the server does not echo
        bool labelled = true;   // MONITOR lines never are
    };
    const Case cases[] = {
        {Command::Join{"#b", "k1"}, {"JOIN #b k1"}},
        {Command::Join{"#b", std::nullopt}, {"JOIN #b"}},
        {Command::Part{"#a", "bye now"}, {"PART #a :bye now"}},
        {Command::Part{"#a", std::nullopt}, {"PART #a"}},
        {Command::SendMessage{"#a", "hi there"}, {"PRIVMSG #a :hi there"}, true},
        {Command::SendNotice{"#a", "hi"}, {"NOTICE #a hi"}, true},
        {Command::SendAction{"#a", "waves"}, {"PRIVMSG #a :\x01" "ACTION waves\x01"}, true},
        {Command::SetNick{"other"}, {"NICK other"}},
        {Command::SetTopic{"#a", "new topic"}, {"TOPIC #a :new topic"}},
        {Command::SetTopic{"#a", std::nullopt}, {"TOPIC #a :"}},
        {Command::SetAway{"gone"}, {"AWAY gone"}},
        {Command::SetAway{std::nullopt}, {"AWAY"}},
        {Command::SetTyping{"bob", TypingState::Active}, {"@+typing=active TAGMSG bob"}},
        {Command::SetTyping{"bob", TypingState::Paused}, {"@+typing=paused TAGMSG bob"}},
        {Command::SetTyping{"bob", TypingState::Done}, {"@+typing=done TAGMSG bob"}},
        {Command::AddReaction{"#a", "m1", "+1"}, {"@+draft/react=+1;+draft/reply=m1 TAGMSG #a"}},
        {Command::RemoveReaction{"#a", "m1", "a b"}, {"@+draft/unreact=a\\sb;+draft/reply=m1 TAGMSG #a"}},
        {Command::RedactMessage{"#a", "m1", "spam"}, {"REDACT #a m1 spam"}},
        {Command::RedactMessage{"#a", "m1", std::nullopt}, {"REDACT #a m1"}},
        {Command::MarkRead{"#a", 0}, {"MARKREAD #a timestamp=1970-01-01T00:00:00.000Z"}},
        {Command::MarkRead{"#a", 1772442005123}, {"MARKREAD #a timestamp=2026-03-02T09:00:05.123Z"}},
        {Command::FetchHistory{"#a", std::nullopt, 50}, {"CHATHISTORY LATEST #a * 50"}},
        {Command::FetchHistory{"#a", "x", 100}, {"CHATHISTORY BEFORE #a msgid=x 100"}},
        {Command::SetMetadata{"avatar", "http://x/y"}, {"METADATA * SET avatar http://x/y"}},
        {Command::SetMetadata{"avatar", std::nullopt}, {"METADATA * SET avatar"}},
        {Command::SubscribeMetadata{{"a", "b", "a"}}, {"METADATA * SUB a b a"}},
        {Command::SubscribeMetadata{{}}, {"METADATA * SUB"}},
        {Command::Whois{"bob"}, {"WHOIS bob"}},
        {Command::RenameChannel{"#a", "#b", "tidier"}, {"RENAME #a #b tidier"}},
        {Command::RenameChannel{"#a", "#b", std::nullopt}, {"RENAME #a #b"}},
        {Command::CreateInviteLink{std::nullopt, std::nullopt}, {"INVITELINK CREATE"}},
        {Command::CreateInviteLink{std::nullopt, "d"}, {"INVITELINK CREATE * d"}},
        {Command::CreateInviteLink{"#a", std::nullopt}, {"INVITELINK CREATE #a"}},
        {Command::CreateInviteLink{"#a", "for friends"}, {"INVITELINK CREATE #a :for friends"}},
        {Command::ListInviteLinks{}, {"INVITELINK LIST"}},
        {Command::DeleteInviteLink{"s1"}, {"INVITELINK DELETE s1"}},
        {Command::RedeemInviteCode{"c0de"}, {"INVITECODE c0de"}},
        {Command::GenerateToken{"filehost"}, {"TOKEN GENERATE filehost"}},
        {Command::WatchNicks{{"Mia", "bob"}}, {"MONITOR + Mia,bob"}, false, false},
        {Command::UnwatchNicks{{"Mia"}}, {"MONITOR - Mia"}, false, false},
        {Command::WatchNicks{{}}, {}, false, false},
        {Command::SendVoiceSignal{"#a", Signal{Signal::Join{"#a"}}},
         {R"(@+vantaweb/rtc={"type":"join","channel":"#a"} TAGMSG #a)"}},
        {Command::SendVoiceSignal{"#a", Signal{Signal::Answer{"v=0 a;b", std::nullopt}}},
         {R"(@+vantaweb/rtc={"type":"answer","sdp":"v=0\sa\:b"} TAGMSG #a)"}},
        {Command::Quit{"later"}, {"QUIT later"}},
        {Command::Quit{std::nullopt}, {"QUIT"}},
        // A raw line is parsed and written again, and never echoed.
        {Command::SendRawLine{"PRIVMSG #a :hi"}, {"PRIVMSG #a hi"}},
        {Command::SendRawLine{"@+x=1 PING y"}, {"@+x=1 PING y"}},
        {Command::SendRawLine{""}, {}},
    };
    for (const bool caps : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::PrintToString(c.lines) + (caps ? " with caps" : " without caps"));
            Harness h = joined(caps);
            h.engine.execute(c.command);

            Lines expected = c.lines;
            if (caps && c.labelled)
                for (std::string& line : expected) line = with_label(line);
            EXPECT_EQ(h.sent(), expected);
            const bool echoed = c.chat && !caps;
            EXPECT_EQ(kinds(h.events()), echoed ? Kinds{kModelChanged} : Kinds{});
            EXPECT_EQ(h.engine.pending_labels.size(), caps && c.labelled ? expected.size() : 0u);
        }
    }
}

// A field that lands before the last parameter must read back as that one parameter, and each
// watched nick as one item of its list: else the command is refused, naming the field. The
// rows with a line show where each field stands when it passes.
TEST(Execute, FieldsThatWouldReshapeTheLineAreRefused) {
    using Place = CommandRefusal::Place;
    auto middle = [](std::string_view field, std::string value) {
        return CommandRefusal{field, std::move(value), Place::MiddleParameter};
    };
    auto item = [](std::string value) { return CommandRefusal{"nicks", std::move(value), Place::ListItem}; };
    const std::string nul("a\0b", 3);
    struct Case {
        Command command;
        std::variant<std::string, CommandRefusal> outcome;  // the line sent, or the refusal
    };
    const Case cases[] = {
        {Command::Join{"#a :evil", "k"}, middle("channel", "#a :evil")},
        {Command::Join{"#a b", "k"}, middle("channel", "#a b")},
        {Command::Join{"", "k"}, middle("channel", "")},
        {Command::Join{":#a", "k"}, middle("channel", ":#a")},
        {Command::Join{"#a\r\nQUIT", "k"}, middle("channel", "#a\r\nQUIT")},
        {Command::Join{nul, "k"}, middle("channel", nul)},
        {Command::Join{"#a b", std::nullopt}, "JOIN :#a b"},
        {Command::Join{"#a,#b", "k k"}, "JOIN #a,#b :k k"},
        {Command::Part{"#a b", "bye"}, middle("channel", "#a b")},
        {Command::Part{"#a b", std::nullopt}, "PART :#a b"},
        {Command::SendMessage{"#a :evil", "hi there"}, middle("target", "#a :evil")},
        {Command::SendMessage{"", "x"}, middle("target", "")},
        {Command::SendMessage{"#a", ":) a\r\nb"}, "PRIVMSG #a ::) a  b"},
        {Command::SendNotice{"bob x", "hi"}, middle("target", "bob x")},
        {Command::SendAction{"bob\n", "waves"}, middle("target", "bob\n")},
        {Command::SetTopic{"#a b", "t"}, middle("channel", "#a b")},
        {Command::SetTopic{"#a b", std::nullopt}, middle("channel", "#a b")},  // the empty topic follows
        {Command::RedactMessage{"#a b", "m1", std::nullopt}, middle("target", "#a b")},
        {Command::RedactMessage{"#a", "m 1", "spam"}, middle("msgid", "m 1")},
        {Command::RedactMessage{"#a", "", "spam"}, middle("msgid", "")},
        {Command::RedactMessage{"#a", "m 1", std::nullopt}, "REDACT #a :m 1"},
        {Command::MarkRead{":x", 0}, middle("target", ":x")},
        {Command::FetchHistory{"#a b", std::nullopt, 50}, middle("target", "#a b")},
        {Command::FetchHistory{"#a b", "x", 50}, middle("target", "#a b")},
        {Command::FetchHistory{"#a", "x y", 50}, middle("before_msgid", "x y")},
        {Command::FetchHistory{"#a", "x\r", 50}, middle("before_msgid", "x\r")},
        // Behind its prefix a msgid is never empty and never begins with ":".
        {Command::FetchHistory{"#a", ":x", 50}, "CHATHISTORY BEFORE #a msgid=:x 50"},
        {Command::FetchHistory{"#a", "", 50}, "CHATHISTORY BEFORE #a msgid= 50"},
        {Command::SetMetadata{"a b", "v"}, middle("key", "a b")},
        {Command::SetMetadata{"a b", std::nullopt}, "METADATA * SET :a b"},
        {Command::SubscribeMetadata{{"a", "b c", "d"}}, middle("keys", "b c")},
        // The last key too: stored, it stands before others on the line a reconnect resends.
        {Command::SubscribeMetadata{{"a", ""}}, middle("keys", "")},
        {Command::SubscribeMetadata{{"a", "b c"}}, middle("keys", "b c")},
        {Command::SubscribeMetadata{{":a"}}, middle("keys", ":a")},
        {Command::SubscribeMetadata{{"", "a"}}, middle("keys", "")},
        {Command::SubscribeMetadata{{"a", "b"}}, "METADATA * SUB a b"},
        {Command::RenameChannel{"#a b", "#c", std::nullopt}, middle("channel", "#a b")},
        {Command::RenameChannel{"#a", "#b c", "tidier"}, middle("new_name", "#b c")},
        {Command::RenameChannel{"#a", "#b c", std::nullopt}, "RENAME #a :#b c"},
        {Command::CreateInviteLink{"#a b", "d"}, middle("channel", "#a b")},
        {Command::CreateInviteLink{"#a b", std::nullopt}, "INVITELINK CREATE :#a b"},
        {Command::CreateInviteLink{std::nullopt, "for: friends"}, "INVITELINK CREATE * :for: friends"},
        {Command::WatchNicks{{"ok", "a,b"}}, item("a,b")},
        {Command::WatchNicks{{""}}, item("")},
        {Command::WatchNicks{{"a b"}}, item("a b")},
        {Command::WatchNicks{{":ok"}}, "MONITOR + ::ok"},
        {Command::UnwatchNicks{{"a\nb"}}, item("a\nb")},
        {Command::UnwatchNicks{{nul}}, item(nul)},
        // A line's only parameter is its last.
        {Command::SetNick{"a b"}, "NICK :a b"},
        {Command::Whois{":x"}, "WHOIS ::x"},
        {Command::SetTyping{"a b", TypingState::Done}, "@+typing=done TAGMSG :a b"},
        {Command::DeleteInviteLink{""}, "INVITELINK DELETE :"},
    };
    for (const Case& c : cases) {
        const auto* refusal = std::get_if<CommandRefusal>(&c.outcome);
        SCOPED_TRACE(refusal ? "refused " + std::string(refusal->field) + " " + ::testing::PrintToString(refusal->value)
                             : std::get<std::string>(c.outcome));
        Harness h;
        const std::optional<CommandRefusal> got = h.engine.execute(c.command);
        if (refusal) {
            EXPECT_EQ(got, *refusal);
            EXPECT_EQ(h.sent(), Lines{});
        } else {
            EXPECT_EQ(got, std::nullopt);
            EXPECT_EQ(h.sent(), Lines{std::get<std::string>(c.outcome)});
        }
    }
}

TEST(Execute, ARefusedCommandLeavesNoTrace) {
    Harness h;
    h.register_with({"labeled-response"});  // labels used, and a local echo for chat
    h.recv(":me!u@h JOIN #a");
    h.engine.execute(Command::Join{"#k", "old"});
    h.engine.execute(Command::SubscribeMetadata{{"avatar"}});
    h.engine.execute(Command::WatchNicks{{"bob"}});
    h.events();  // the lines stay queued
    const Engine before = h.engine;

    const Command refused[] = {
        Command::SendMessage{"#a :evil", "hi there"},
        Command::SendAction{"", "waves"},
        Command::Join{"#k x", "new"},
        Command::SubscribeMetadata{{"new key", "other"}},
        Command::WatchNicks{{"carol", "a,b"}},
        Command::UnwatchNicks{{"bob", ""}},
        Command::RedactMessage{"#a", "m 1", "spam"},
    };
    for (const Command& command : refused) EXPECT_TRUE(h.engine.execute(command));
    EXPECT_EQ(h.engine.transmit, before.transmit);
    EXPECT_EQ(h.engine.label_counter, before.label_counter);
    EXPECT_EQ(h.engine.pending_labels, before.pending_labels);
    EXPECT_EQ(h.engine.channel_keys, before.channel_keys);
    EXPECT_EQ(h.engine.metadata_keys, before.metadata_keys);
    EXPECT_EQ(h.engine.monitor_watched, before.monitor_watched);
    EXPECT_TRUE(h.engine.model == before.model);
    EXPECT_TRUE(h.events().empty());

    EXPECT_FALSE(h.engine.execute(Command::Whois{"bob"}));
    EXPECT_EQ(h.sent(), (Lines{"WHO #a", "@label=l1 JOIN #k old", "@label=l2 METADATA * SUB avatar", "MONITOR + bob",
                               "@label=l3 WHOIS bob"}));
}

TEST(Execute, RawLineLabelIsReplacedOnlyWhenLabelling) {
    for (const bool caps : {false, true}) {
        Harness h = joined(caps);
        h.engine.execute(Command::SendRawLine{"@a=1;label=x;b=2 WHOIS bob"});
        EXPECT_EQ(h.sent(), Lines{caps ? "@a=1;label=l1;b=2 WHOIS bob" : "@a=1;label=x;b=2 WHOIS bob"});
        if (caps) {
            EXPECT_EQ(h.engine.pending_labels.at("l1").command, "WHOIS");
        }
    }
}

TEST(Execute, JoinKeepsTheKeyUnderTheFoldedName) {
    Harness h;
    h.engine.execute(Command::Join{"#Chan[1]", "k1"});
    EXPECT_EQ(h.engine.channel_keys.at("#chan{1}"), "k1");
    h.engine.execute(Command::Join{"#chan{1}", "k2"});
    EXPECT_EQ(h.engine.channel_keys.at("#chan{1}"), "k2");
    h.engine.execute(Command::Join{"#CHAN[1]", std::nullopt});
    EXPECT_TRUE(h.engine.channel_keys.empty());
    EXPECT_EQ(h.sent(), (Lines{"JOIN #Chan[1] k1", "JOIN #chan{1} k2", "JOIN #CHAN[1]"}));
}

TEST(Execute, SubscribeMetadataAddsEachNewKeyOnce) {
    Harness h;
    h.engine.execute(Command::SubscribeMetadata{{"a", "b", "a"}});
    h.engine.execute(Command::SubscribeMetadata{{"B", "b", "c"}});
    EXPECT_EQ(h.engine.metadata_keys, (UniqueList{"a", "b", "B", "c"}));
    EXPECT_EQ(h.sent(), (Lines{"METADATA * SUB a b a", "METADATA * SUB B b c"}));
}

TEST(Execute, NothingInATagValueOrParameterBreaksTheLine) {
    Harness h = joined(true);
    h.engine.execute(Command::AddReaction{"#a", std::string("m\0;1", 4), std::string("a\r\nb\0c", 6)});
    h.engine.execute(Command::SendRawLine{std::string("PRIVMSG #a :x\0QUIT", 18)});
    EXPECT_EQ(h.sent(), (Lines{"@+draft/react=a\\r\\nb\\sc;+draft/reply=m\\s\\:1;label=l1 TAGMSG #a",
                               "@label=l2 PRIVMSG #a :x QUIT"}));
}

TEST(Execute, LocalEchoStoresTheTextAsItWentOut) {
    Harness h = joined(false);
    h.engine.execute(Command::SendMessage{"#a", std::string("one\r\nQUIT\0x", 11)});
    EXPECT_EQ(h.sent(), Lines{"PRIVMSG #a :one  QUIT x"});
    const auto& messages = h.engine.model.channels.at("#a").log.messages;
    ASSERT_EQ(messages.size(), 1u);
    const LogMessage& stored = *messages.begin();
    EXPECT_EQ(stored.text(), "one  QUIT x");
    EXPECT_EQ(stored.sender(), "me");
    EXPECT_TRUE(stored.own);
}

TEST(Execute, EchoMessageLeavesTheModelToTheServer) {
    Harness h = joined(true);
    h.engine.execute(Command::SendNotice{"#a", "hi"});
    EXPECT_TRUE(h.engine.model.channels.at("#a").log.messages.empty());
    EXPECT_EQ(h.engine.pending_labels.at("l1").command, "NOTICE");
}

}  // namespace
}  // namespace tessel::testing
