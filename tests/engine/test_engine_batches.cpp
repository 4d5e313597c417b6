// Batches: holding, history replay, multiline joining, limits and nesting.
#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Events = std::vector<Event>;

struct Batches : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.register_with();
        h.recv(":me!u@h JOIN #a");
        h.recv(":me!u@h JOIN #b");
        h.drain();
    }
    const MessageLog& log(const std::string& channel) { return h.engine.model.channels.at(channel).log; }
    std::vector<std::string> texts(const std::string& channel) {
        std::vector<std::string> out;
        for (const LogMessage& message : log(channel).messages) out.emplace_back(message.text());
        return out;
    }
};

TEST_F(Batches, ChathistoryIsHeldThenAppliedAsHistory) {
    h.recv("BATCH +h chathistory #a");
    h.recv("@batch=h;msgid=1 :bob!u@h PRIVMSG #a :one");
    h.recv("@batch=h;msgid=2 :bob!u@h PRIVMSG #a :two");
    EXPECT_TRUE(h.events().empty());
    EXPECT_TRUE(log("#a").messages.empty());
    h.recv("BATCH -h");
    EXPECT_EQ(kinds(h.events()), (std::vector<std::size_t>{6, 6}));
    ASSERT_EQ(log("#a").messages.size(), 2u);
    for (const LogMessage& message : log("#a").messages) EXPECT_TRUE(message.historical);
    EXPECT_EQ(h.engine.model.channels.at("#a").unread, 0u);
}

TEST_F(Batches, NestedMultilineInHistoryIsJoinedAndHistorical) {
    struct Case {
        std::string outer_type;
        bool historical;
    };
    for (const Case& c : {Case{"chathistory", true}, Case{"netjoin", false}}) {
        Harness fresh;
        fresh.register_with();
        fresh.recv(":me!u@h JOIN #a");
        fresh.drain();
        fresh.recv("BATCH +o " + c.outer_type + " #a");
        fresh.recv("@batch=o BATCH +m draft/multiline #a");
        fresh.recv("@batch=m;msgid=x :bob!u@h PRIVMSG #a :hello");
        fresh.recv("@batch=m :bob!u@h PRIVMSG #a :world");
        fresh.recv("BATCH -m");
        const auto& messages = fresh.engine.model.channels.at("#a").log.messages;
        ASSERT_EQ(messages.size(), 1u) << c.outer_type;  // applied before the outer batch closes
        EXPECT_EQ(messages.begin()->text(), "hello\nworld");
        EXPECT_EQ(messages.begin()->msgid(), "x");
        EXPECT_EQ(messages.begin()->historical, c.historical) << c.outer_type;
    }
}

TEST_F(Batches, MultilineRuns) {
    h.recv("BATCH +m draft/multiline #a");
    h.recv("@batch=m :bob!u@h PRIVMSG #a :hello");
    h.recv("@batch=m;draft/multiline-concat :bob!u@h PRIVMSG #a :world");
    h.recv("@batch=m :bob!u@h privmsg #a :again");  // letter case of the word does not break a run
    h.recv("@batch=m :bob!u@h NOTICE #a :notice");
    h.recv("@batch=m :bob!u@h PRIVMSG #b :b1");
    h.recv("@batch=m :bob!u@h PRIVMSG #b :b2");
    h.recv("BATCH -m");
    EXPECT_EQ(texts("#a"), (std::vector<std::string>{"helloworld\nagain", "notice"}));
    EXPECT_EQ(texts("#b"), (std::vector<std::string>{"b1\nb2"}));
}

TEST(MultilineJoin, FirstLineWithoutTextTakesNoText) {
    auto joined = join_multiline({msg(":b PRIVMSG #a"), msg(":b PRIVMSG #a :x"), msg(":b TAGMSG #a"),
                                  msg(":b PRIVMSG #a :y"), msg(":b PRIVMSG #a :z")});
    ASSERT_EQ(joined.size(), 3u);
    EXPECT_EQ(joined[0], msg(":b PRIVMSG #a"));
    EXPECT_EQ(joined[1], msg(":b TAGMSG #a"));
    EXPECT_EQ(joined[2], msg(":b PRIVMSG #a :y\nz"));
}

TEST_F(Batches, DuplicateMsgidsWithinOneBatchOnly) {
    h.recv("BATCH +x custom");
    for (int i = 0; i < 3; ++i) h.recv("@batch=x;msgid=same :bob!u@h PRIVMSG #a :dup");
    h.recv("@batch=x :bob!u@h PRIVMSG #a :no id");
    h.recv("@batch=x :bob!u@h PRIVMSG #a :no id");
    EXPECT_EQ(h.engine.batches.at("x").held.size(), 3u);
    h.recv("BATCH -x");
    EXPECT_EQ(kinds(h.events()).size(), 3u);
}

TEST_F(Batches, MemberLimit) {
    h.recv("BATCH +x custom");
    for (int i = 0; i < 1030; ++i)
        h.recv("@batch=x;msgid=m" + std::to_string(i) + " :bob!u@h PRIVMSG #a :" + std::to_string(i));
    EXPECT_EQ(h.engine.batches.at("x").held.size(), 1024u);
    EXPECT_TRUE(h.engine.batches.at("x").overflowed);
    h.recv("BATCH -x");
    EXPECT_EQ(log("#a").messages.size(), 1024u);
    EXPECT_EQ(log("#a").messages.rbegin()->text(), "1023");
}

TEST_F(Batches, OpenBatchLimit) {
    for (int i = 0; i < 64; ++i) h.recv("BATCH +b" + std::to_string(i) + " custom");
    h.recv("BATCH +late custom");
    EXPECT_EQ(h.engine.batches.size(), 64u);
    h.recv("@batch=late :bob!u@h PRIVMSG #a :at once");
    EXPECT_EQ(kinds(h.events()), std::vector<std::size_t>{6});
    h.recv("BATCH -late");
    EXPECT_TRUE(h.events().empty());
}

TEST_F(Batches, RepeatedOpeningKeepsTheFirst) {
    h.recv("BATCH +r t1");
    h.recv("@batch=r :bob!u@h PRIVMSG #a :one");
    h.recv("BATCH +r t2");
    h.recv("@batch=r :bob!u@h PRIVMSG #a :two");
    EXPECT_EQ(h.engine.batches.at("r").batch_type, "t1");
    h.recv("BATCH -r");
    h.recv("BATCH -r");
    EXPECT_EQ(texts("#a"), (std::vector<std::string>{"one", "two"}));
}

TEST_F(Batches, IrregularLinesAreAbsorbed) {
    h.recv_all({"BATCH", "BATCH :", "BATCH xyz t", "BATCH +notype", "BATCH -never"});
    EXPECT_TRUE(h.engine.batches.empty());
    h.recv("BATCH + t");  // opens under the empty reference, which no message can join
    EXPECT_EQ(h.engine.batches.count(""), 1u);
    h.recv("@batch= :bob!u@h PRIVMSG #a :live");
    EXPECT_EQ(kinds(h.events()), std::vector<std::size_t>{6});
    h.recv("BATCH -");
    EXPECT_TRUE(h.engine.batches.empty());
    h.recv("@batch=nowhere :bob!u@h PRIVMSG #a :live too");
    EXPECT_EQ(kinds(h.events()), std::vector<std::size_t>{6});
}

TEST_F(Batches, ParentCycleEndsLive) {
    h.recv("@batch=q BATCH +p custom");
    h.recv("@batch=p BATCH +q custom");
    h.recv("@batch=p BATCH +r custom");
    h.recv("@batch=r :bob!u@h PRIVMSG #a :in r");
    h.recv("BATCH -r");
    ASSERT_EQ(log("#a").messages.size(), 1u);
    EXPECT_FALSE(log("#a").messages.begin()->historical);
}

}  // namespace
}  // namespace tessel::testing
