#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tessel_client/model/message_log.hpp"

namespace tessel {
namespace {

MessageDraft msg(std::uint64_t time, std::uint64_t seq, std::string sender, std::string text,
                 std::optional<std::string> msgid = std::nullopt, MessageKind kind = {}) {
    MessageDraft m;
    m.key = {time, seq};
    m.sender = std::move(sender);
    m.text = std::move(text);
    m.msgid = std::move(msgid);
    m.kind = std::move(kind);
    return m;
}

MessageKind ctcp(std::string command) { return MessageKind{MessageKind::Ctcp{std::move(command)}}; }
MessageKind notice() { return MessageKind{MessageKind::Notice{}}; }

TEST(MessageKey, OrdersByTimeThenSeq) {
    EXPECT_LT((MessageKey{1, 9}), (MessageKey{2, 0}));
    EXPECT_LT((MessageKey{2, 0}), (MessageKey{2, 1}));
    EXPECT_EQ((MessageKey{2, 1}), (MessageKey{2, 1}));
}

struct DuplicateCase {
    const char* name;
    MessageDraft stored;
    MessageDraft incoming;
    bool stored_again;
};

TEST(MessageLog, DuplicateRules) {
    const DuplicateCase cases[] = {
        {"same msgid, everything else differs", msg(1, 0, "a", "x", "id1"), msg(9, 1, "b", "y", "id1"), false},
        {"new msgid, same content", msg(1, 0, "a", "x", "id1"), msg(1, 1, "a", "x", "id2"), true},
        {"no msgid, same ms and content", msg(1, 0, "a", "x"), msg(1, 1, "a", "x"), false},
        {"no msgid, stored one has msgid", msg(1, 0, "a", "x", "id1"), msg(1, 1, "a", "x"), false},
        {"1 ms apart", msg(1, 0, "a", "x"), msg(2, 1, "a", "x"), true},
        {"privmsg against notice", msg(1, 0, "a", "x"), msg(1, 1, "a", "x", std::nullopt, notice()), true},
        {"different ctcp command", msg(1, 0, "a", "x", std::nullopt, ctcp("ACTION")),
         msg(1, 1, "a", "x", std::nullopt, ctcp("PING")), true},
        {"same ctcp command", msg(1, 0, "a", "x", std::nullopt, ctcp("ACTION")),
         msg(1, 1, "a", "x", std::nullopt, ctcp("ACTION")), false},
        {"sender differs in case only", msg(1, 0, "Ann", "x"), msg(1, 1, "ann", "x"), true},
        {"text differs", msg(1, 0, "a", "x"), msg(1, 1, "a", "y"), true},
    };
    for (const auto& c : cases) {
        MessageLog log(10);
        ASSERT_TRUE(log.insert(c.stored)) << c.name;
        EXPECT_EQ(log.insert(c.incoming), c.stored_again) << c.name;
        EXPECT_EQ(log.messages.size(), c.stored_again ? 2u : 1u) << c.name;
    }
}

TEST(MessageLog, OwnAndAccountAreNotCompared) {
    MessageLog log(10);
    MessageDraft a = msg(5, 0, "a", "x");
    MessageDraft b = msg(5, 1, "a", "x");
    b.own = true;
    b.account = "acct";
    b.historical = true;
    b.reply_to = "r";
    ASSERT_TRUE(log.insert(a));
    EXPECT_FALSE(log.insert(b));
}

TEST(MessageLog, RetentionOneKeepsNewest) {
    MessageLog log(1);
    ASSERT_TRUE(log.insert(msg(10, 0, "a", "first", "id1")));
    ASSERT_TRUE(log.insert(msg(20, 1, "a", "second", "id2")));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages.begin()->text(), "second");
    EXPECT_EQ(log.by_msgid.size(), 1u);
    EXPECT_EQ(log.find("id1"), nullptr);
    // Older than everything: stored, then trimmed at once.
    EXPECT_TRUE(log.insert(msg(5, 2, "a", "old", "id3")));
    EXPECT_EQ(log.messages.begin()->text(), "second");
    EXPECT_EQ(log.by_msgid.size(), 1u);
    EXPECT_EQ(log.find("id3"), nullptr);
}

TEST(MessageLog, ZeroRetentionCountsAsOne) {
    MessageLog log(0);
    EXPECT_EQ(log.retention, 1u);
}

TEST(MessageLog, TrimmedMsgidIsForgottenAndStorableAgain) {
    MessageLog log(2);
    ASSERT_TRUE(log.insert(msg(1, 0, "a", "x", "id1")));
    ASSERT_TRUE(log.insert(msg(2, 1, "a", "y", "id2")));
    ASSERT_TRUE(log.insert(msg(3, 2, "a", "z", "id3")));
    EXPECT_EQ(log.find("id1"), nullptr);
    EXPECT_TRUE(log.insert(msg(4, 3, "a", "x", "id1")));
    ASSERT_NE(log.find("id1"), nullptr);
    EXPECT_EQ(log.find("id1")->key, (MessageKey{4, 3}));
    // Trimmed content no longer counts as a duplicate either.
    EXPECT_TRUE(log.insert(msg(2, 4, "a", "y")));  // older than all: stored and trimmed
    EXPECT_EQ(log.messages.size(), 2u);
}

TEST(MessageLog, FindReturnsRedactedMessages) {
    MessageLog log(5);
    ASSERT_TRUE(log.insert(msg(1, 0, "a", "x", "id1")));
    log.find("id1")->redacted = true;
    ASSERT_NE(log.find("id1"), nullptr);
    EXPECT_TRUE(log.find("id1")->redacted);
    EXPECT_EQ(log.find("nope"), nullptr);
}

TEST(MessageLog, LargestTimeDoesNotOverflow) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    MessageLog log(10);
    ASSERT_TRUE(log.insert(msg(0, 0, "a", "x")));
    ASSERT_TRUE(log.insert(msg(kMax, 1, "a", "x")));  // not a duplicate of the time-0 one
    EXPECT_FALSE(log.insert(msg(kMax, 2, "a", "x")));
    EXPECT_TRUE(log.insert(msg(kMax, 3, "a", "y")));
    EXPECT_EQ(log.messages.size(), 3u);
    EXPECT_EQ(log.newest()->text(), "y");
}

TEST(MessageLog, CrowdedMillisecondStillFindsDuplicates) {
    MessageLog log(10000);
    for (std::uint64_t i = 0; i < 3000; ++i) ASSERT_TRUE(log.insert(msg(7, i, "a", "t" + std::to_string(i))));
    EXPECT_FALSE(log.insert(msg(7, 3000, "a", "t0")));
    EXPECT_FALSE(log.insert(msg(7, 3001, "a", "t2999")));
    EXPECT_TRUE(log.insert(msg(8, 3002, "a", "t0")));
    EXPECT_EQ(log.messages.size(), 3001u);
}

TEST(MessageLog, LogFilledByHandStillDeduplicates) {
    MessageLog log(10);
    log.messages.emplace(msg(3, 0, "a", "x"));
    EXPECT_FALSE(log.insert(msg(3, 1, "a", "x")));
    EXPECT_TRUE(log.insert(msg(3, 2, "a", "y")));
}

// The index on its own, with hashes chosen to pile into one run of slots and to wrap around
// the end of the table: erasing from the middle of a run must leave every other key findable.
TEST(MsgidIndex, CollidingAndWrappingRunsSurviveErasure) {
    const std::uint64_t last = 15;  // the last slot of the 16-slot table that eight entries fill
    const std::uint64_t hashes[] = {last, last + 16, last + 32, 14, 1, 16 + 1, last, 2};
    std::vector<MsgidIndex::Entry> entries(1001);
    for (std::uint64_t i = 0; i < entries.size(); ++i) entries[i].key = MessageKey{i, i};
    for (std::size_t erased = 0; erased < std::size(hashes); ++erased) {
        MsgidIndex index;
        for (std::uint64_t i = 0; i < std::size(hashes); ++i) index.insert(hashes[i], &entries[i]);
        index.erase(static_cast<std::uint32_t>(hashes[erased]), &entries[erased]);
        index.erase(static_cast<std::uint32_t>(hashes[erased]), &entries[99]);  // not there: no change
        EXPECT_EQ(index.size(), std::size(hashes) - 1);
        for (std::uint64_t i = 0; i < std::size(hashes); ++i) {
            const MsgidIndex::Entry* found =
                index.find(hashes[i], [&](const MsgidIndex::Entry& e) { return &e == &entries[i]; });
            EXPECT_EQ(found != nullptr, i != erased) << "erased " << erased << ", looking for " << i;
        }
    }
    // Growing keeps every entry.
    MsgidIndex big;
    for (std::uint64_t i = 1; i <= 1000; ++i) big.insert(i * 16, &entries[i]);
    for (std::uint64_t i = 1; i <= 1000; ++i)
        ASSERT_EQ(big.find(i * 16, [&](const MsgidIndex::Entry& e) { return e.key.time_ms == i; }), &entries[i]) << i;
}

TEST(MessageLog, OutOfOrderInsertKeepsKeyOrder) {
    MessageLog log(3);
    ASSERT_TRUE(log.insert(msg(30, 0, "a", "c")));
    ASSERT_TRUE(log.insert(msg(10, 1, "a", "a")));
    ASSERT_TRUE(log.insert(msg(20, 2, "a", "b")));
    ASSERT_TRUE(log.insert(msg(40, 3, "a", "d")));  // trims the time-10 message
    std::string order;
    for (const LogMessage& m : log.messages) order += m.text();
    EXPECT_EQ(order, "bcd");
}

// The log's shortcuts (node reuse, the crowded-millisecond index, the msgid hash index) must
// give what the plain algorithm gives: walk the millisecond, store, trim from the front.
struct PlainLog {
    std::map<MessageKey, MessageDraft> messages;
    std::map<std::string, MessageKey, std::less<>> by_msgid;
    std::uint64_t retention;

    bool insert(const MessageDraft& m) {
        if (m.msgid) {
            if (by_msgid.contains(*m.msgid)) return false;
        } else {
            for (const auto& [key, stored] : messages)
                if (key.time_ms == m.key.time_ms && same_content(stored.view(), m.view())) return false;
        }
        messages.emplace(m.key, m);
        if (m.msgid) by_msgid.emplace(*m.msgid, m.key);
        while (messages.size() > retention) {
            if (messages.begin()->second.msgid) by_msgid.erase(*messages.begin()->second.msgid);
            messages.erase(messages.begin());
        }
        return true;
    }
};

TEST(MessageLog, MatchesThePlainAlgorithm) {
    std::mt19937 rng(7);
    for (std::uint64_t retention : {1u, 3u, 20u, 60u, 300u}) {
        MessageLog log(retention);
        PlainLog plain{{}, {}, retention};
        std::uint64_t seq = 0;
        for (int step = 0; step < 6000; ++step) {
            const std::uint64_t times[] = {0, 1, 2, 3, std::numeric_limits<std::uint64_t>::max()};
            // Mostly one crowded millisecond, so that it fills and drains through the trimming.
            const std::uint64_t time = rng() % 4 == 0 ? times[rng() % 5] : 2;
            std::optional<std::string> msgid;
            if (rng() % 3 == 0) msgid = "id" + std::to_string(rng() % 200);
            MessageDraft m = msg(time, seq++, rng() % 2 ? "a" : "b", "t" + std::to_string(rng() % 40), msgid,
                               rng() % 5 == 0 ? notice() : MessageKind{});
            if (rng() % 4 == 0) m.key.seq = rng() % (seq + 1);  // out of order, sometimes a taken key
            if (plain.messages.contains(m.key)) continue;  // keys are unique by construction
            ASSERT_EQ(log.insert(m), plain.insert(m)) << "step " << step;
            ASSERT_EQ(log.messages.size(), plain.messages.size()) << "step " << step;
            ASSERT_TRUE(std::equal(log.messages.begin(), log.messages.end(), plain.messages.begin(),
                                   [](const LogMessage& a, const auto& b) { return a == b.second; }))
                << "step " << step;
            // Every msgid the plain log knows leads to its message, and nothing else is indexed.
            ASSERT_EQ(log.by_msgid.size(), plain.by_msgid.size()) << "step " << step;
            for (const auto& [msgid, key] : plain.by_msgid) {
                const LogMessage* found = log.find(msgid);
                ASSERT_TRUE(found != nullptr && found->key == key) << "step " << step << " msgid " << msgid;
            }
            if (step % 1000 == 999) log = MessageLog(log);  // a copy carries on like the original
        }
    }
}

}  // namespace
}  // namespace tessel
