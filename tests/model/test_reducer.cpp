#include "model_fixture.hpp"

namespace tessel::test {
namespace {

class Reducer : public ModelTest {};

TEST_F(Reducer, DispatchByWord) {
    setup({":me!u@h JOIN #a"});
    struct Case {
        const char* line;
        Changes expected;
    } cases[] = {
        {":me!u@h join #b", {joined("#b")}},
        {":me!u@h JoIn #c", {joined("#c")}},
        {":x 001 me :Welcome", {}},
        {":x 333 me #a bob 123", {}},
        {":x 366 me #a :End", {}},
        {":x ZZZZZZZZ #a", {}},    // 8 bytes, not a word we handle
        {":x PRIVMSGX #a :hi", {}},  // 8 bytes
        {":x PRIVMSGXY #a :hi", {}},  // longer than 8
        {":x AB #a", {}},             // shorter than 3
        {":me!u@h JOIN", {}},         // too few parameters
        {":x KICK #a", {}},
        {":x 353 me =", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(feed(c.line), c.expected) << c.line;
    // Equal to a handled word up to trailing NUL bytes is still another word.
    using namespace std::string_view_literals;
    EXPECT_EQ(feed(":me!u@h JOIN\0 #d"sv), Changes{});
    EXPECT_EQ(feed(":me!u@h JOIN\0\0\0\0 #d"sv), Changes{});
    EXPECT_EQ(model.channels.size(), 3u);
}

TEST_F(Reducer, OwnJoinCreatesChannelOnce) {
    EXPECT_EQ(feed(":ME!u@h JOIN #Room"), Changes{joined("#Room")});
    Channel& c = chan("#room");
    EXPECT_EQ(c.name, "#Room");
    EXPECT_TRUE(c.members.empty());  // NAMES fills it
    EXPECT_TRUE(model.people.empty());
    EXPECT_EQ(c.log.retention, 5000u);
    setup({":bob!u@h JOIN #room", ":bob!u@h PRIVMSG #room :hi"});
    EXPECT_EQ(feed(":me!u@h JOIN #ROOM"), Changes{joined("#ROOM")});
    EXPECT_EQ(chan("#room").name, "#Room");
    EXPECT_EQ(chan("#room").log.messages.size(), 1u);
    EXPECT_EQ(member_keys("#room"), std::vector<std::string>{"bob"});
}

TEST_F(Reducer, OtherJoin) {
    EXPECT_EQ(feed(":bob!u@h JOIN #nowhere"), Changes{});
    EXPECT_TRUE(model.people.empty());

    setup({":me!u@h JOIN #a", ":x 353 me = #a :@Bob"});
    EXPECT_EQ(feed(":BOB!u@h JOIN #A acct :Real Name"), Changes{members("#A")});
    EXPECT_EQ(chan("#a").members.at("bob").prefixes, "@");
    EXPECT_EQ(model.people.at("bob").nick, "BOB");
    EXPECT_EQ(model.people.at("bob").account, "acct");
    feed(":bob!u@h JOIN #a *");
    EXPECT_EQ(model.people.at("bob").account, "acct");
    feed(":bob!u@h JOIN #a :");
    EXPECT_EQ(model.people.at("bob").account, "");
}

TEST_F(Reducer, Part) {
    setup({":me!u@h JOIN #a", ":me!u@h JOIN #b", ":bob!u@h JOIN #a", ":bob!u@h JOIN #b"});
    EXPECT_EQ(feed(":bob!u@h PART #a :bye"), Changes{members("#a")});
    EXPECT_TRUE(chan("#a").members.empty());
    EXPECT_TRUE(model.people.contains("bob"));  // still in #b
    EXPECT_EQ(feed(":bob!u@h PART #nowhere"), Changes{members("#nowhere")});
    EXPECT_EQ(feed(":me!u@h PART #B"), Changes{parted("#B")});
    EXPECT_FALSE(model.channels.contains("#b"));
    EXPECT_TRUE(model.people.contains("bob"));  // own PART does not prune
    EXPECT_EQ(feed(":me!u@h PART #never"), Changes{parted("#never")});
    // The next PART of anyone prunes bob, who shares nothing now.
    feed(":carol!u@h PART #a");
    EXPECT_FALSE(model.people.contains("bob"));
}

TEST_F(Reducer, TopicAndTopicReply) {
    setup({":me!u@h JOIN #a"});
    EXPECT_EQ(feed(":x 332 me #A :Hello there"), Changes{topic("#A")});
    EXPECT_EQ(chan("#a").topic, "Hello there");
    EXPECT_EQ(chan("#a").topic_by, std::nullopt);
    EXPECT_EQ(feed(":bob!u@h TOPIC #a :New"), Changes{topic("#a")});
    EXPECT_EQ(chan("#a").topic, "New");
    EXPECT_EQ(chan("#a").topic_by, "bob");
    EXPECT_EQ(feed(":carol!u@h TOPIC #a :"), Changes{topic("#a")});
    EXPECT_EQ(chan("#a").topic, std::nullopt);
    EXPECT_EQ(chan("#a").topic_by, "carol");
    feed(":x 332 me #a :again");
    EXPECT_EQ(feed(":x 332 me #a"), Changes{topic("#a")});
    EXPECT_EQ(chan("#a").topic, std::nullopt);
    EXPECT_EQ(chan("#a").topic_by, "carol");
    EXPECT_EQ(feed("TOPIC #a :sourceless"), Changes{topic("#a")});
    EXPECT_EQ(chan("#a").topic_by, "");
    EXPECT_EQ(feed(":bob!u@h TOPIC #b :x"), Changes{});
    EXPECT_EQ(feed(":x 332 me #b :x"), Changes{});
}

TEST_F(Reducer, Prop) {
    setup({":me!u@h JOIN #a"});
    EXPECT_EQ(feed(":x PROP #A"), Changes{modes("#A")});
    EXPECT_EQ(feed(":x PROP #a +topiclock +limit=5 +=v +"), Changes{modes("#a")});
    using NM = std::map<std::string, std::optional<std::string>, std::less<>>;
    EXPECT_EQ(chan("#a").named_modes, (NM{{"", std::nullopt}, {"limit", "5"}, {"topiclock", std::nullopt}}));
    feed(":x PROP #a -limit=9 -topiclock ignored");
    EXPECT_EQ(chan("#a").named_modes, (NM{{"", std::nullopt}}));
    feed(":x PROP #a -");  // the empty key
    EXPECT_TRUE(chan("#a").named_modes.empty());
    EXPECT_EQ(feed(":x PROP #b +x"), Changes{});
}

TEST_F(Reducer, Redact) {
    setup({":me!u@h JOIN #a", "@msgid=m1 :bob!u@h PRIVMSG #a :oops", "@msgid=p1 :bob!u@h PRIVMSG me :psst"});
    EXPECT_EQ(feed(":bob!u@h REDACT #A m1 :reason"), Changes{redacted("#A", "m1")});
    const LogMessage& m = *chan("#a").log.messages.begin();
    EXPECT_TRUE(m.redacted);
    EXPECT_EQ(m.text(), "oops");
    EXPECT_EQ(feed(":carol!u@h REDACT #a m1"), Changes{redacted("#a", "m1")});  // again, by anyone
    EXPECT_EQ(feed(":bob!u@h REDACT #a nope"), Changes{});
    EXPECT_EQ(feed(":bob!u@h REDACT #zz m1"), Changes{});
    // A held channel is the only log searched, even when the msgid lives elsewhere.
    EXPECT_EQ(feed(":bob!u@h REDACT #a p1"), Changes{});
    // Own redaction in private names the other party.
    setup({"@msgid=o1 :me!u@h PRIVMSG bob :mine"});
    EXPECT_EQ(feed(":me!u@h REDACT bob o1"), Changes{redacted("bob", "o1")});
    EXPECT_TRUE(conv("bob").log.find("o1")->redacted);
}

TEST_F(Reducer, PrivateRedactionByTheOtherPartyReachesTheConversation) {
    setup({"@msgid=p1 :Bob!u@h PRIVMSG me :psst"});
    EXPECT_EQ(feed(":Bob!u@h REDACT ME p1"), Changes{redacted("Bob", "p1")});
    EXPECT_TRUE(conv("bob").log.find("p1")->redacted);
    // Someone else cannot reach bob's conversation this way.
    EXPECT_EQ(feed(":carol!u@h REDACT me p1"), Changes{});
}

TEST_F(Reducer, Markread) {
    setup({":me!u@h JOIN #a", ":bob!u@h PRIVMSG #a :hi me", ":bob!u@h PRIVMSG me :hello"});
    ASSERT_EQ(chan("#a").unread, 1u);
    ASSERT_EQ(chan("#a").mentions, 1u);
    struct Case {
        const char* param;
        const char* stored;
    } cases[] = {
        {"timestamp=2024-01-01T00:00:00.000Z", "2024-01-01T00:00:00.000Z"},
        {"timestamp", "timestamp"},
        {"timestamp=", ""},
        {"Timestamp=x", "Timestamp=x"},
        {"*", "*"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(feed(std::string(":x MARKREAD #A :") + c.param), Changes{marker("#A")}) << c.param;
        EXPECT_EQ(chan("#a").read_marker, c.stored) << c.param;
    }
    EXPECT_EQ(chan("#a").unread, 0u);
    EXPECT_EQ(chan("#a").mentions, 0u);
    EXPECT_EQ(feed(":x MARKREAD Bob timestamp=t"), Changes{marker("Bob")});
    EXPECT_EQ(conv("bob").read_marker, "t");
    EXPECT_EQ(conv("bob").unread, 0u);
    EXPECT_EQ(feed(":x MARKREAD carol timestamp=t"), Changes{});
    EXPECT_FALSE(model.conversations.contains("carol"));
}

// Replayed history describes the past: only chat lines and redactions are applied.
TEST_F(Reducer, HistoryReplayLeavesLiveStateAlone) {
    setup({":me!u@h JOIN #a", ":x 353 me = #a :me @bob", "@msgid=m1 :bob!u@h PRIVMSG #a :live"});
    const Model before = model;
    const char* replayed[] = {
        ":me!u@h PART #a",        ":bob!u@h KICK #a me",   ":me!u@h NICK old",
        ":bob!u@h QUIT :gone",    ":x MODE #a -o bob",     ":bob!u@h TOPIC #a :old",
        ":x RENAME #a #b :moved", ":me!u@h JOIN #gone",   ":bob!u@h AWAY :away",
        ":x MARKREAD #a timestamp=x", ":x 332 me #a :old", ":x 353 me = #a :zed",
        ":bob!u@h PART #a",       ":bob!u@h NICK robert",  ":x KICK #a bob",
        ":bob!u@h ACCOUNT acct",  ":x METADATA #a k * :v", ":x PROP #a +x",
        ":x 961 me #a +y",        ":x 352 me #a u h s bob G :0 R", ":x 354 me 332 #a u h bob G acct :R",
        ":x 311 me bob u h * :R", ":x 761 me #a k * :v",   ":carol!u@h JOIN #a",
    };
    for (const char* line : replayed) EXPECT_EQ(feed(line, true), Changes{}) << line;
    EXPECT_EQ(model, before);

    const std::uint64_t seq = model.next_seq;
    EXPECT_EQ(feed("@msgid=h1;time=2020-01-01T00:00:00.000Z :bob!u@h PRIVMSG #a :then", true).size(), 1u);
    EXPECT_EQ(feed(":bob!u@h REDACT #a m1", true), Changes{redacted("#a", "m1")});
    EXPECT_EQ(model.next_seq, seq + 1);
    const LogMessage* h = chan("#a").log.find("h1");
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(h->historical);
}

// Every word the reducer knows, with every parameter count up to past its longest form, with
// and without a source, live and replayed: short or odd input gives a result, never a fault
// (this is mostly a sanitizer test), and the logs keep their invariants.
TEST_F(Reducer, AnyParameterCountIsSafe) {
    const char* words[] = {"332", "311", "312", "313", "317", "318", "319", "330", "338", "378", "671",
                           "352", "353", "354", "760", "761", "766", "961", "JOIN", "PART", "QUIT",
                           "KICK", "NICK", "MODE", "AWAY", "PROP", "TOPIC", "PRIVMSG", "NOTICE",
                           "TAGMSG", "RENAME", "REDACT", "ACCOUNT", "MARKREAD", "METADATA"};
    const char* values[] = {"#a", "me", "", "*", "332", "+o", "bob", "m1", "timestamp=", "@+"};
    const std::optional<std::string> sources[] = {std::nullopt, "me", "bob", "irc.example"};
    for (bool historical : {false, true}) {
        for (const auto& source : sources) {
            for (const char* word : words) {
                for (std::size_t count = 0; count <= 10; ++count) {
                    setup({":me!u@h JOIN #a", ":x 353 me = #a :me @bob", "@msgid=m1 :bob!u@h PRIVMSG #a :hi"});
                    IrcMessage m;
                    if (source) m.source = Source{*source, std::nullopt, std::nullopt};
                    if (std::string_view(word) == "TAGMSG") m.tags = {{"+draft/react", "x"}, {"+reply", "m1"}};
                    m.command = word;
                    for (std::size_t i = 0; i < count; ++i) m.params.emplace_back(values[(i * 7 + count) % 10]);
                    ReduceContext ctx{model, isupport, unix_ms, historical};
                    reduce_message(ctx, m);
                }
            }
        }
    }
    auto check = [](const MessageLog& log) {
        EXPECT_LE(log.messages.size(), log.retention);
        std::size_t with_msgid = 0;
        for (const LogMessage& message : log.messages) {
            if (auto msgid = message.msgid()) {
                ++with_msgid;
                const LogMessage* found = log.find(*msgid);
                EXPECT_TRUE(found == &message);
            }
        }
        EXPECT_EQ(log.by_msgid.size(), with_msgid);
    };
    for (const auto& [key, channel] : model.channels) check(channel.log);
    for (const auto& [key, conversation] : model.conversations) check(conversation.log);
    EXPECT_LE(model.whois.size(), Model::kMaxWhois);
}

}  // namespace
}  // namespace tessel::test
