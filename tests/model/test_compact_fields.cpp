#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tessel_client/model/lazy_map.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/model/short_text.hpp"
#include "tessel_client/model/slot_list.hpp"

namespace tessel {
namespace {

// Every pair of lengths on both sides of the inline limit: copies, moves and assignments keep
// the text, including an assignment from the object's own bytes.
TEST(ShortText, KeepsTextAcrossTheInlineLimit) {
    const std::vector<std::size_t> lengths = {0, 1, 14, 15, 16, 300};
    auto make = [](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
        return s;
    };
    for (std::size_t a : lengths) {
        for (std::size_t b : lengths) {
            SCOPED_TRACE(std::to_string(a) + " over " + std::to_string(b));
            ShortText x(make(a));
            ShortText y(make(b));
            EXPECT_EQ(x, make(a));
            ShortText copy(x);
            y = copy;
            EXPECT_EQ(y, make(a));
            ShortText moved(std::move(copy));
            EXPECT_EQ(moved, make(a));
            EXPECT_TRUE(copy.empty());
            y = ShortText(make(b));
            y = std::move(moved);
            EXPECT_EQ(y, make(a));
            y = y.view().substr(a / 2);
            EXPECT_EQ(y, make(a).substr(a / 2));
            y = make(b);
            EXPECT_EQ(std::string(y), make(b));
        }
    }
}

// Random inserts and erases against a vector, through the one-slot and heap forms and back.
TEST(SlotList, MatchesAVector) {
    std::mt19937 rng(7);
    SlotList list;
    std::vector<std::uint32_t> plain;
    for (int step = 0; step < 20000; ++step) {
        const bool grow = plain.size() < 2 ? rng() % 3 != 0 : rng() % 2 == 0;
        if (grow && plain.size() < 40) {
            const std::size_t at = rng() % (plain.size() + 1);
            const std::uint32_t slot = rng() % 1000;
            list.insert(at, slot);
            plain.insert(plain.begin() + static_cast<std::ptrdiff_t>(at), slot);
        } else if (!plain.empty()) {
            const std::size_t at = rng() % plain.size();
            list.erase(at);
            plain.erase(plain.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (step % 97 == 0) {
            SlotList copy(list);
            list = SlotList();
            list = copy;
        }
        ASSERT_EQ(std::vector<std::uint32_t>(list.begin(), list.end()), plain) << "step " << step;
        ASSERT_EQ(list.empty(), plain.empty());
    }
}

TEST(LazyMap, ReadsAsTheMapAndEmptiesBackToNothing) {
    LazyMap<TextMap> map;
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map.find("k"), map.end());
    map.insert_or_assign("k", "v");
    map.insert_or_assign("l", "w");
    const LazyMap<TextMap> copy = map;
    EXPECT_EQ(copy.at("k"), "v");
    EXPECT_EQ(copy, (TextMap{{"k", "v"}, {"l", "w"}}));
    map.erase_key("k");
    map.erase_key("absent");
    EXPECT_EQ(map.size(), 1u);
    map.erase_key("l");
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map, LazyMap<TextMap>());
    map = TextMap{};
    EXPECT_TRUE(map.empty());
}

// A type aligned beyond the pool's grain comes from the general heap.
TEST(NodeAllocator, OverAlignedTypesBypassThePool) {
    struct alignas(32) Wide {
        char bytes[32];
    };
    auto pooled = NodeAllocator<char>::with_new_pool();
    if (pooled.pool() == nullptr) GTEST_SKIP() << "the pool is off in this build";
    NodeAllocator<Wide> wide(pooled);
    Wide* block = wide.allocate(1);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 32, 0u);
    EXPECT_EQ(pooled.pool()->live_blocks(), 0u);
    wide.deallocate(block, 1);
}

}  // namespace
}  // namespace tessel
