#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "tessel_client/model/message_map.hpp"

namespace tessel {
namespace {

// Texts of many lengths, so that they fill, empty and share the arena's blocks unevenly.
MessageDraft text(MessageKey key, std::uint64_t n) {
    MessageDraft m;
    m.key = key;
    m.text = "m" + std::to_string(n) + std::string(n % 700, 'x');
    if (n % 3 == 0) m.msgid = "id" + std::to_string(n);
    m.sender = n % 2 ? "bob" : "";
    return m;
}

bool same(const LogMessage& stored, const std::pair<const MessageKey, MessageDraft>& plain) {
    return stored.key == plain.first && stored == plain.second;
}

void expect_same(const MessageMap& map, const std::map<MessageKey, MessageDraft>& plain, int step) {
    ASSERT_EQ(map.size(), plain.size()) << "step " << step;
    ASSERT_TRUE(std::equal(map.begin(), map.end(), plain.begin(), plain.end(), same)) << "step " << step;
    ASSERT_TRUE(std::equal(map.rbegin(), map.rend(), plain.rbegin(), plain.rend(), same)) << "step " << step;
}

// Runs of appends, removals from the front, late inserts and removals anywhere, checked
// against std::map after every step: run splits, the consumed front of a run and runs that
// empty out must keep the order, the lookups and the iteration in both directions exact.
TEST(MessageMap, BehavesLikeAnOrderedMap) {
    std::mt19937 rng(11);
    MessageMap map;
    std::map<MessageKey, MessageDraft> plain;
    std::uint64_t next = 1000;
    for (int step = 0; step < 20000; ++step) {
        const unsigned op = rng() % 10;
        if (op < 5) {  // append, the usual case
            const MessageKey key{next, next};
            ++next;
            EXPECT_TRUE(map.emplace(text(key, key.seq)).second);
            plain.emplace(key, text(key, key.seq));
        } else if (op < 7) {  // a late or repeated key anywhere
            const MessageKey key{rng() % (next + 10), rng() % 4};
            const auto [it, stored] = map.emplace(text(key, key.time_ms));
            const auto [expected, plain_stored] = plain.emplace(key, text(key, key.time_ms));
            ASSERT_EQ(stored, plain_stored) << "step " << step;
            ASSERT_TRUE(same(*it, *expected)) << "step " << step;
        } else if (op < 9) {  // the oldest leaves
            if (plain.empty()) continue;
            const auto after = map.erase(map.begin());
            plain.erase(plain.begin());
            ASSERT_TRUE(after == map.begin()) << "step " << step;
        } else {  // a removal anywhere, and what erase returns
            if (plain.empty()) continue;
            const MessageKey probe{rng() % (next + 10), rng() % 4};
            auto it = map.lower_bound(probe);
            auto expected = plain.lower_bound(probe);
            ASSERT_EQ(it == map.end(), expected == plain.end()) << "step " << step;
            if (expected == plain.end()) continue;
            ASSERT_EQ(it->key, expected->first) << "step " << step;
            it = map.erase(it);
            expected = plain.erase(expected);
            ASSERT_EQ(it == map.end(), expected == plain.end()) << "step " << step;
            if (expected != plain.end()) {
                ASSERT_EQ(it->key, expected->first) << "step " << step;
            }
        }
        const MessageKey probe{rng() % (next + 10), rng() % 4};
        ASSERT_EQ(map.contains(probe), plain.contains(probe)) << "step " << step;
        if (step % 97 == 0) expect_same(map, plain, step);
        if (step % 5000 == 4999) {
            const MessageMap copy(map);  // a copy is equal and independent
            ASSERT_TRUE(copy == map);
            map = copy;
            expect_same(map, plain, step);
        }
    }
    expect_same(map, plain, -1);
}

TEST(MessageMap, ReferencesSurviveOtherChanges) {
    MessageMap map;
    for (std::uint64_t i = 0; i < 500; ++i) map.emplace(text(MessageKey{2 * i, 0}, i));
    LogMessage* held = &*map.find(MessageKey{400, 0});
    for (std::uint64_t i = 0; i < 500; ++i) map.emplace(text(MessageKey{2 * i + 1, 0}, i));  // splits runs
    for (int i = 0; i < 100; ++i) map.erase(map.begin());
    EXPECT_EQ(held, &*map.find(MessageKey{400, 0}));
    EXPECT_EQ(held->text(), text(MessageKey{}, 200).text);
}

// Reactions and previews are kept beside the messages: a copy carries them, equality sees
// them, and a removed message takes its own along (a later one at the same address starts
// without any).
TEST(MessageMap, ExtrasFollowTheirMessage) {
    MessageMap map;
    MessageDraft reacted = text(MessageKey{1, 0}, 1);
    reacted.reactions = {{"+1", {"al", "bob"}}};
    reacted.link_preview = LinkPreview{"title", std::nullopt, "img"};
    map.emplace(reacted);
    map.emplace(text(MessageKey{2, 0}, 2));
    ASSERT_NE(map.extras(*map.begin()), nullptr);
    EXPECT_EQ(map.extras(*map.begin())->reactions, reacted.reactions);
    EXPECT_EQ(map.extras(*std::next(map.begin())), nullptr);

    MessageMap copy(map);
    EXPECT_TRUE(copy == map);
    copy.extras_for(*copy.begin()).reactions.clear();
    EXPECT_FALSE(copy == map);
    copy.extras_for(*copy.begin()).link_preview.reset();
    copy.drop_extras_if_empty(*copy.begin());
    EXPECT_EQ(copy.extras(*copy.begin()), nullptr);

    map.erase(map.begin());
    map.emplace(text(MessageKey{3, 0}, 3));  // takes the freed record
    for (const LogMessage& m : map) EXPECT_EQ(map.extras(m), nullptr);
}

// Messages whose keys lie far ahead of the rest stay while their neighbours leave, each
// pinning the arena block its texts lie in. The map copies the live texts out rather than
// holding a block per pinned message, and every text reads back intact.
TEST(MessageMap, PinnedTextsDoNotHoldTheArena) {
    constexpr std::size_t kKept = 500;
    constexpr std::size_t kText = 1000;
    MessageMap map;
    std::map<MessageKey, MessageDraft> plain;
    for (std::uint64_t i = 0; i < 40 * kKept; ++i) {
        MessageDraft m;
        m.key = i % 16 == 0 ? MessageKey{1'000'000'000 + i, i} : MessageKey{i, i};
        m.text = std::to_string(i) + std::string(kText, static_cast<char>('a' + i % 26));
        map.emplace(m);
        plain.emplace(m.key, m);
        if (map.size() > kKept) {
            map.erase(map.begin());
            plain.erase(plain.begin());
        }
        ASSERT_LT(map.held_bytes(), 3 * kKept * kText + (std::size_t{128} << 10)) << i;
    }
    expect_same(map, plain, -1);
}

}  // namespace
}  // namespace tessel
