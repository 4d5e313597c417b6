#include <limits>

#include "model_fixture.hpp"
#include "tessel_client/model/chat.hpp"

namespace tessel::test {
namespace {

class Chat : public ModelTest {
protected:
    void SetUp() override { setup({":me!u@h JOIN #a"}); }
    const LogMessage& last(std::string_view channel) { return *chan(channel).log.messages.rbegin(); }
    // Reactions and preview of the message with this msgid; none when it has none.
    static Reactions reactions(const MessageLog& log, std::string_view msgid) {
        const MessageExtras* extras = log.extras(*log.find(msgid));
        return extras ? extras->reactions : Reactions{};
    }
    static std::optional<LinkPreview> preview(const MessageLog& log, std::string_view msgid) {
        const MessageExtras* extras = log.extras(*log.find(msgid));
        return extras ? extras->link_preview : std::nullopt;
    }
};

TEST_F(Chat, StoresChannelMessageWithTags) {
    const auto changes =
        feed("@time=2024-05-01T12:00:00.250Z;msgid=abc;account=bobacct;+draft/reply=parent :Bob!u@h PRIVMSG #A :hello");
    const std::uint64_t t = 1714564800250ULL;
    EXPECT_EQ(changes, Changes{added("#A", t, 0)});
    const LogMessage& m = last("#a");
    EXPECT_EQ(m.key, (MessageKey{t, 0}));
    EXPECT_EQ(m.msgid(), "abc");
    EXPECT_EQ(m.sender(), "Bob");
    EXPECT_EQ(m.kind(), MessageKind{MessageKind::Privmsg{}});
    EXPECT_EQ(m.text(), "hello");
    EXPECT_EQ(m.account(), "bobacct");
    EXPECT_EQ(m.reply_to(), "parent");
    EXPECT_FALSE(m.own);
    EXPECT_FALSE(m.historical);
    EXPECT_EQ(unix_ms, t);  // a later server time moves the clock
    EXPECT_EQ(chan("#a").unread, 1u);
    EXPECT_EQ(model.next_seq, 1u);
}

TEST_F(Chat, RepeatedTagsTheLastOneDecides) {
    struct Case {
        const char* tags;
        std::optional<std::string> msgid, account, reply_to;
        std::uint64_t time;
    } cases[] = {
        {"@msgid=a1;time=2024-05-01T12:00:00.000Z;msgid=a2;account=x;account=y;time=2024-05-01T12:00:00.007Z",
         "a2", "y", std::nullopt, 1714564800007ULL},
        // A last occurrence without a value hides the earlier ones.
        {"@msgid=b1;msgid;account=x;account=;time=2024-05-01T12:00:01.000Z", std::nullopt, std::nullopt,
         std::nullopt, 1714564801000ULL},
        // "+reply" wins over "+draft/reply" only when its last occurrence has a value.
        {"@+reply=r1;+draft/reply=d1;msgid=c1;time=2024-05-01T12:00:02.000Z", "c1", std::nullopt, "r1",
         1714564802000ULL},
        {"@+reply=r1;+reply;+draft/reply=d1;+draft/reply=d2;msgid=c2;time=2024-05-01T12:00:03.000Z", "c2",
         std::nullopt, "d2", 1714564803000ULL},
    };
    for (const Case& c : cases) {
        const std::string line = std::string(c.tags) + " :bob!u@h PRIVMSG #a :hi";
        feed(line);
        const LogMessage& m = last("#a");
        EXPECT_EQ(m.msgid(), c.msgid) << line;
        EXPECT_EQ(m.account(), c.account) << line;
        EXPECT_EQ(m.reply_to(), c.reply_to) << line;
        EXPECT_EQ(m.key.time_ms, c.time) << line;
    }
}

TEST_F(Chat, TimeFallsBackToClock) {
    struct Case {
        const char* line;
        std::uint64_t time_ms;
    } cases[] = {
        {":b!u@h PRIVMSG #a :1", 1'000'000},
        {"@time=garbage :b!u@h PRIVMSG #a :2", 1'000'000},
        {"@time :b!u@h PRIVMSG #a :3", 1'000'000},
        {"@time=2024-05-01T12:00:00.000Z;time :b!u@h PRIVMSG #a :4", 1'000'000},  // the last tag rules
        {"@time=1970-01-01T00:00:00.001Z :b!u@h PRIVMSG #a :5", 1},  // earlier: stored so, clock stays
    };
    for (const auto& c : cases) {
        const auto changes = feed(c.line);
        ASSERT_EQ(changes.size(), 1u) << c.line;
        EXPECT_EQ(std::get<Change::MessageAdded>(changes[0].value).key.time_ms, c.time_ms) << c.line;
    }
    EXPECT_EQ(unix_ms, 1'000'000u);
}

TEST_F(Chat, KindsAndCtcp) {
    struct Case {
        const char* line;
        MessageKind kind;
        const char* text;
    } cases[] = {
        {":b!u@h PRIVMSG #a :\x01" "ACTION waves\x01", {MessageKind::Ctcp{"ACTION"}}, "waves"},
        {":b!u@h PRIVMSG #a :\x01" "action\x01", {MessageKind::Ctcp{"ACTION"}}, ""},
        {":b!u@h NOTICE #a :\x01" "VERSION\x01", {MessageKind::Notice{}}, "\x01" "VERSION\x01"},
        {":b!u@h PRIVMSG #a", {MessageKind::Privmsg{}}, ""},
        {"@+typing=x :b!u@h TAGMSG #a", {MessageKind::Tagmsg{}}, ""},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(feed(c.line).size(), 1u) << c.line;
        EXPECT_EQ(last("#a").kind(), c.kind) << c.line;
        EXPECT_EQ(last("#a").text(), c.text) << c.line;
    }
}

TEST_F(Chat, DroppedMessagesStillUseASequenceNumber) {
    EXPECT_EQ(feed(":b!u@h PRIVMSG"), Changes{});
    EXPECT_EQ(model.next_seq, 0u);
    EXPECT_EQ(feed("@time=2030-01-01T00:00:00.000Z :b!u@h PRIVMSG #nowhere :x"), Changes{});
    EXPECT_EQ(model.next_seq, 1u);
    EXPECT_EQ(unix_ms, 1893456000000ULL);
    feed("@msgid=d :b!u@h PRIVMSG #a :x");
    EXPECT_EQ(feed("@msgid=d :b!u@h PRIVMSG #a :x"), Changes{});
    feed(":b!u@h PRIVMSG #a :next");
    EXPECT_EQ(last("#a").key.seq, 3u);
    EXPECT_EQ(chan("#a").unread, 2u);  // the duplicate counted nothing
}

TEST_F(Chat, StatusmsgTargets) {
    isupport.statusmsg = "@+";
    isupport.chantypes = "#";
    EXPECT_EQ(feed(":b!u@h PRIVMSG +@#a :ops"), Changes{added("#a", 1'000'000, 0)});
    EXPECT_EQ(chan("#a").log.messages.size(), 1u);
    isupport.statusmsg.clear();
    EXPECT_EQ(feed(":b!u@h PRIVMSG +#a :ops"), Changes{added("b", 1'000'000, 1)});
    EXPECT_TRUE(model.conversations.contains("b"));
}

// "&" is both a channel type and a status prefix: a held channel named by the whole target,
// or by what is left after some of its status characters, takes the message.
TEST_F(Chat, StatusmsgCharacterThatIsAlsoAChannelType) {
    isupport.statusmsg = "~&@%+";
    isupport.chantypes = "#&";
    setup({":me!u@h JOIN &ops"});
    struct Case {
        const char* target;
        const char* filed_under;  // the change's target
        const char* log;          // channel key, else conversation key
    } cases[] = {
        {"&ops", "&ops", "&ops"},
        {"&&ops", "&ops", "&ops"},
        {"@&ops", "&ops", "&ops"},
        {"&#a", "#a", "#a"},
        {"&nowhere", "b", "b"},  // no held channel: every status character goes, and "nowhere" is a nick
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const auto changes = feed(std::string(":b!u@h PRIVMSG ") + c.target + " :to " + c.target);
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(std::get<Change::MessageAdded>(changes[0].value).target, c.filed_under);
        const bool channel = model.channels.contains(std::string_view(c.log));
        const MessageLog& log = channel ? chan(c.log).log : conv(c.log).log;
        EXPECT_EQ(log.messages.rbegin()->text(), std::string("to ") + c.target);
    }
    EXPECT_EQ(chan("&ops").log.messages.size(), 3u);
}

TEST_F(Chat, PrivateMessagesFiledUnderTheOtherParty) {
    EXPECT_EQ(feed(":Me!u@h PRIVMSG Bob :hi"), Changes{added("Bob", 1'000'000, 0)});
    EXPECT_TRUE(conv("bob").log.messages.rbegin()->own);
    EXPECT_EQ(conv("bob").unread, 0u);
    EXPECT_EQ(feed(":BOB!u@h PRIVMSG me :hi"), Changes{added("BOB", 1'000'000, 1)});
    EXPECT_EQ(conv("bob").nick, "Bob");  // created by the first message, kept
    EXPECT_EQ(conv("bob").unread, 1u);
    EXPECT_EQ(conv("bob").log.messages.size(), 2u);

    EXPECT_EQ(feed(":irc.example NOTICE * :Looking up your host"), Changes{added("irc.example", 1'000'000, 2)});
    EXPECT_EQ(feed("NOTICE me :no source"), Changes{added("", 1'000'000, 3)});
    EXPECT_EQ(conv("").nick, "");
}

TEST_F(Chat, UnreadAndMentions) {
    struct Case {
        const char* line;
        bool historical;
        unsigned unread, mentions;
    } cases[] = {
        {":b!u@h PRIVMSG #a :hey me!", false, 1, 1},
        {":b!u@h PRIVMSG #a :nothing", false, 2, 1},
        {":b!u@h PRIVMSG #a :\x01" "ACTION pokes me\x01", false, 3, 2},
        {":me!u@h PRIVMSG #a :me me me", false, 3, 2},
        {"@msgid=h :b!u@h PRIVMSG #a :me too", true, 3, 2},
    };
    for (const auto& c : cases) {
        feed(c.line, c.historical);
        EXPECT_EQ(chan("#a").unread, c.unread) << c.line;
        EXPECT_EQ(chan("#a").mentions, c.mentions) << c.line;
    }
    EXPECT_TRUE(chan("#a").log.find("h")->historical);
}

TEST_F(Chat, CountersSaturate) {
    chan("#a").unread = std::numeric_limits<std::uint32_t>::max();
    chan("#a").mentions = std::numeric_limits<std::uint32_t>::max();
    feed(":b!u@h PRIVMSG #a :me");
    EXPECT_EQ(chan("#a").unread, std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(chan("#a").mentions, std::numeric_limits<std::uint32_t>::max());
}

TEST_F(Chat, FullLogOlderMessageCountsAsStored) {
    Model small = Model::make("me", 1);
    model = small;
    setup({":me!u@h JOIN #a", "@time=2024-01-01T00:00:01.000Z :b!u@h PRIVMSG #a :new"});
    const auto changes = feed("@time=2024-01-01T00:00:00.000Z :b!u@h PRIVMSG #a :old");
    EXPECT_EQ(changes.size(), 1u);
    EXPECT_EQ(chan("#a").unread, 2u);
    EXPECT_EQ(last("#a").text(), "new");
}

TEST_F(Chat, LargestClockDoesNotBreakDeduplication) {
    unix_ms = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(feed(":b!u@h PRIVMSG #a :x").size(), 1u);
    EXPECT_EQ(feed(":b!u@h PRIVMSG #a :x"), Changes{});
    EXPECT_EQ(feed(":b!u@h PRIVMSG #a :y").size(), 1u);
}

TEST(Mention, WordBoundaries) {
    struct Case {
        const char* text;
        bool mentioned;
    } cases[] = {
        {"ann: hi", true},      {"hi ANN!", true},  {"+ann", true},    {"annie, ann", true},
        {"annie", false},       {"ann_", false},    {"[ann]", false},  {"ann2", false},
        {"éann", false},        {"ann٣", false},    {"ann", true},     {"", false},
        {"x ann\xc2\xa0y", true},  // no-break space is not a word character
        {"annie ANN", true},    {"ANNIE Ann", true}, {"Annie annex ann", true}, {"annANN ann_", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mentions_nick(CaseMapping::Rfc1459, "ann", c.text), c.mentioned) << c.text;
    EXPECT_TRUE(mentions_nick(CaseMapping::Rfc1459, "a[b]", "hi A{B}"));
    EXPECT_FALSE(mentions_nick(CaseMapping::Ascii, "a[b]", "hi A{B}"));
    // A first byte with a second form under rfc1459: "[" and "{" both start the nick.
    EXPECT_TRUE(mentions_nick(CaseMapping::Rfc1459, "{x", "{xy [X"));
    EXPECT_TRUE(mentions_nick(CaseMapping::Rfc1459, "{x", "[xy {X"));
    EXPECT_FALSE(mentions_nick(CaseMapping::Ascii, "{x", "[x"));
    EXPECT_FALSE(mentions_nick(CaseMapping::Rfc1459, "", "anything"));
}

TEST_F(Chat, Reactions) {
    setup({"@msgid=m1 :bob!u@h PRIVMSG #a :hi"});
    EXPECT_EQ(feed("@+draft/react=👍;+reply=m1 :Carol!u@h TAGMSG #A"), Changes{reacted("#A", "m1")});
    EXPECT_EQ(feed("@+draft/react=👍;+draft/reply=m1 :CAROL!u@h TAGMSG #a"), Changes{reacted("#a", "m1")});
    feed("@+draft/react=👍;+reply=m1 :dave!u@h TAGMSG #a");
    feed("@+draft/react=🎉;+draft/unreact=👍;+reply=m1 :dave!u@h TAGMSG #a");  // react wins
    using R = Reactions;
    EXPECT_EQ(reactions(chan("#a").log, "m1"), (R{{"🎉", {"dave"}}, {"👍", {"carol", "dave"}}}));
    feed("@+draft/unreact=🎉;+reply=m1 :dave!u@h TAGMSG #a");
    EXPECT_EQ(feed("@+draft/unreact=🙈;+reply=m1 :dave!u@h TAGMSG #a"), Changes{reacted("#a", "m1")});
    EXPECT_EQ(reactions(chan("#a").log, "m1"), (R{{"👍", {"carol", "dave"}}}));
    EXPECT_EQ(model.next_seq, 1u);  // reactions are not numbered

    // Unknown msgid: stored as a tagmsg entry that names its parent.
    EXPECT_EQ(feed("@+draft/react=👍;+reply=zz :dave!u@h TAGMSG #a"), Changes{added("#a", 1'000'000, 1)});
    EXPECT_EQ(last("#a").kind(), MessageKind{MessageKind::Tagmsg{}});
    EXPECT_EQ(last("#a").reply_to(), "zz");
}

TEST_F(Chat, PrivateReactionFromTheOtherPartyReachesTheConversation) {
    setup({"@msgid=o1 :me!u@h PRIVMSG bob :mine"});
    EXPECT_EQ(feed("@+draft/react=👍;+reply=o1 :Bob!u@h TAGMSG me"), Changes{reacted("Bob", "o1")});
    EXPECT_EQ(reactions(conv("bob").log, "o1").at("👍"), UniqueList{"bob"});
    EXPECT_EQ(conv("bob").log.messages.size(), 1u);
    // The echo of our own reaction names bob as target and is found as well.
    EXPECT_EQ(feed("@+draft/react=🎉;+reply=o1 :me!u@h TAGMSG bob"), Changes{reacted("bob", "o1")});
}

TEST_F(Chat, LinkPreviews) {
    setup({"@msgid=m1 :bob!u@h PRIVMSG #a :see https://x"});
    const MessageKey key = chan("#a").log.find("m1")->key;
    feed(":x REDACT #a m1");
    const auto changes = feed(
        "@+reply=m1;vantaweb/link-preview-title=Title;vantaweb/link-preview-snippet=Snip;"
        "vantaweb/link-preview-meta=img.png :bot!u@h TAGMSG #a");
    EXPECT_EQ(changes, Changes{added("#a", key.time_ms, key.seq)});
    EXPECT_EQ(preview(chan("#a").log, "m1"), (LinkPreview{"Title", "Snip", "img.png"}));
    feed("@+reply=m1;vantaweb/link-preview-title=Other :bot!u@h TAGMSG #a");
    EXPECT_EQ(preview(chan("#a").log, "m1"), (LinkPreview{"Other", std::nullopt, std::nullopt}));
    EXPECT_EQ(model.next_seq, 1u);

    EXPECT_EQ(feed("@+reply=zz;vantaweb/link-preview-title=T :bot!u@h TAGMSG #a"), Changes{});
    EXPECT_EQ(feed("@+reply=m1;vantaweb/link-preview-title=T :bot!u@h TAGMSG #zz"), Changes{});
    EXPECT_EQ(chan("#a").log.messages.size(), 1u);
    // Without a usable title or reply it is an ordinary tagmsg entry.
    EXPECT_EQ(feed("@+reply=m1;vantaweb/link-preview-title=T;vantaweb/link-preview-title :bot!u@h TAGMSG #a").size(),
              1u);
    EXPECT_EQ(feed("@vantaweb/link-preview-title=T :bot2!u@h TAGMSG #a").size(), 1u);
    EXPECT_EQ(chan("#a").log.messages.size(), 3u);
}

TEST_F(Chat, PrivateLinkPreviewReachesTheConversation) {
    setup({"@msgid=p1 :bob!u@h PRIVMSG me :https://x"});
    const MessageKey key = conv("bob").log.find("p1")->key;
    EXPECT_EQ(feed("@+reply=p1;vantaweb/link-preview-title=T :bob!u@h TAGMSG me"),
              Changes{added("bob", key.time_ms, key.seq)});
    EXPECT_EQ(preview(conv("bob").log, "p1")->title, "T");
}

}  // namespace
}  // namespace tessel::test
