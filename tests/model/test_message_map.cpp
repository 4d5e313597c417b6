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

LogMessage text(std::uint64_t n) {
    LogMessage m;
    m.text = "m" + std::to_string(n);
    return m;
}

void expect_same(const MessageMap& map, const std::map<MessageKey, LogMessage>& plain, int step) {
    ASSERT_EQ(map.size(), plain.size()) << "step " << step;
    ASSERT_TRUE(std::equal(map.begin(), map.end(), plain.begin(), plain.end())) << "step " << step;
    ASSERT_TRUE(std::equal(map.rbegin(), map.rend(), plain.rbegin(), plain.rend())) << "step " << step;
}

// Runs of appends, removals from the front, late inserts and removals anywhere, checked
// against std::map after every step: run splits, the consumed front of a run and runs that
// empty out must keep the order, the lookups and the iteration in both directions exact.
TEST(MessageMap, BehavesLikeAnOrderedMap) {
    std::mt19937 rng(11);
    MessageMap map;
    std::map<MessageKey, LogMessage> plain;
    std::uint64_t next = 1000;
    for (int step = 0; step < 20000; ++step) {
        const unsigned op = rng() % 10;
        if (op < 5) {  // append, the usual case
            const MessageKey key{next, next};
            ++next;
            EXPECT_TRUE(map.emplace(key, text(key.seq)).second);
            plain.emplace(key, text(key.seq));
        } else if (op < 7) {  // a late or repeated key anywhere
            const MessageKey key{rng() % (next + 10), rng() % 4};
            const auto [it, stored] = map.emplace(key, text(key.time_ms));
            const auto [expected, plain_stored] = plain.emplace(key, text(key.time_ms));
            ASSERT_EQ(stored, plain_stored) << "step " << step;
            ASSERT_EQ(it->first, expected->first) << "step " << step;
            ASSERT_EQ(it->second, expected->second) << "step " << step;
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
            ASSERT_EQ(it->first, expected->first) << "step " << step;
            it = map.erase(it);
            expected = plain.erase(expected);
            ASSERT_EQ(it == map.end(), expected == plain.end()) << "step " << step;
            if (expected != plain.end()) {
                ASSERT_EQ(it->first, expected->first) << "step " << step;
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
    for (std::uint64_t i = 0; i < 500; ++i) map.emplace(MessageKey{2 * i, 0}, text(i));
    LogMessage* held = &map.find(MessageKey{400, 0})->second;
    for (std::uint64_t i = 0; i < 500; ++i) map.emplace(MessageKey{2 * i + 1, 0}, text(i));  // splits runs
    for (int i = 0; i < 100; ++i) map.erase(map.begin());
    EXPECT_EQ(held, &map.find(MessageKey{400, 0})->second);
    EXPECT_EQ(held->text, "m200");
}

}  // namespace
}  // namespace tessel
