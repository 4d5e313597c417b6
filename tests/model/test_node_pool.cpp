#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tessel_client/model/model.hpp"
#include "tessel_client/model/node_pool.hpp"
#include "tessel_client/model/reducer.hpp"
#include "tessel_client/protocol/isupport.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tests/heap_in_use.hpp"

namespace tessel {
namespace {

// Blocks of mixed sizes that are live at once never overlap and suit any node's alignment;
// a freed block serves the next request of its size.
TEST(NodePool, LiveBlocksAreDistinctAlignedAndReused) {
    NodePool pool;
    std::vector<std::pair<char*, std::size_t>> live;
    for (std::size_t i = 0; i < 20000; ++i) {
        const std::size_t bytes = 1 + (i * 37) % NodePool::kMaxBytes;
        auto* block = static_cast<char*>(pool.allocate(bytes));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % NodePool::kGrain, 0u);
        live.emplace_back(block, bytes);
    }
    auto sorted = live;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 1; i < sorted.size(); ++i)
        ASSERT_LE(sorted[i - 1].first + sorted[i - 1].second, sorted[i].first);

    char* freed = live.back().first;
    const std::size_t bytes = live.back().second;
    pool.deallocate(freed, bytes);
    live.pop_back();
    EXPECT_EQ(pool.allocate(bytes), freed);
    live.emplace_back(freed, bytes);
    for (auto [block, size] : live) pool.deallocate(block, size);
    EXPECT_EQ(pool.live_blocks(), 0u);
}

// Once every block is back, the pool hands blocks out in address order again instead of in
// the scrambled order they were freed in, and keeps only its first slab.
TEST(NodePool, AnEmptiedPoolStartsOverInOrder) {
    NodePool pool;
    std::vector<void*> blocks;
    for (int i = 0; i < 40; ++i) blocks.push_back(pool.allocate(96));  // within the first slab
    std::vector<void*> shuffled = blocks;
    for (std::size_t i = shuffled.size() - 1; i > 0; --i) std::swap(shuffled[i], shuffled[(i * 7919) % (i + 1)]);
    for (void* block : shuffled) pool.deallocate(block, 96);

    blocks.clear();
    for (int i = 0; i < 40; ++i) blocks.push_back(pool.allocate(96));
    EXPECT_TRUE(std::is_sorted(blocks.begin(), blocks.end(), std::less<>()));
    for (void* block : blocks) pool.deallocate(block, 96);

    blocks.clear();
    for (int i = 0; i < 20000; ++i) blocks.push_back(pool.allocate(96));  // many slabs
    const std::size_t grown = pool.slab_bytes();
    for (void* block : blocks) pool.deallocate(block, 96);
    EXPECT_LT(pool.slab_bytes(), grown / 100);
}

Model with_people(int count, const std::string& prefix) {
    Model model = Model::make("me", 10);
    for (int i = 0; i < count; ++i) model.person_entry(prefix + std::to_string(i), prefix + std::to_string(i));
    return model;
}

// Each model draws on a pool of its own; a copy draws on none (it may outlive the model or
// move to another thread), and a map moved out of a model keeps the pool alive after the
// model is gone.
TEST(NodePool, PoolsBelongToTheirModel) {
    if (!NodePool::kEnabled) GTEST_SKIP() << "sanitizer build: every node comes from the general heap";
    Model a = with_people(100, "a");
    Model b = with_people(100, "b");
    NodePool* pool_a = a.people.get_allocator().pool();
    ASSERT_NE(pool_a, nullptr);
    EXPECT_NE(pool_a, b.people.get_allocator().pool());
    EXPECT_EQ(a.channels.get_allocator().pool(), pool_a);
    EXPECT_GE(pool_a->live_blocks(), 100u);

    const Model copy = a;
    EXPECT_EQ(copy.people.get_allocator().pool(), nullptr);
    EXPECT_EQ(copy, a);

    NameMap<Person> kept;
    {
        Model dropped = with_people(50, "c");
        kept = std::move(dropped.people);
    }
    for (int i = 50; i < 3000; ++i) kept.emplace("c" + std::to_string(i), Person{});
    EXPECT_EQ(kept.size(), 3000u);
    EXPECT_EQ(kept.get_allocator().pool()->live_blocks(), 3000u);
}

// A model gives back every byte it took, also after records moved between keys in it: a
// renamed channel, nick changes of members, of the own user and of a conversation partner.
TEST(NodePool, AModelGivesBackAllItsMemory) {
    const char* const lines[] = {
        ":me!u@h JOIN #a",          ":srv 353 me = #a :@me +bob carol", ":bob!u@h PRIVMSG me :hi",
        ":carol!u@h PRIVMSG #a :x", ":srv RENAME #a #b :moved",          ":bob!u@h NICK rob",
        ":me!u@h NICK me2",         ":srv RENAME #b #B",
    };
    auto lifetime = [&lines] {
        Model model = Model::make("me", 10);
        Isupport isupport;
        std::uint64_t unix_ms = 1'000'000;
        for (const char* line : lines) {
            ReduceContext ctx{model, isupport, unix_ms, false};
            reduce_message(ctx, *parse_line(line));
        }
        return model.channels.contains("#b") && model.channels.at("#b").members.contains("rob") &&
               model.conversations.contains("rob") && model.me.nick == "me2";
    };
    ASSERT_TRUE(lifetime());  // also makes whatever is made once per process
    const std::size_t pools = NodePool::live_pools();
    const std::size_t heap = test::heap_in_use();
    for (int i = 0; i < 1000; ++i) lifetime();
    EXPECT_EQ(NodePool::live_pools(), pools);
    // Less than a byte per lifetime: the allocator's caches of freed blocks may end a block
    // fuller or emptier, while anything kept per lifetime adds up to tens of kilobytes.
    EXPECT_LT(std::int64_t(test::heap_in_use()) - std::int64_t(heap), 1000);
}

// Models built and dropped on two threads at once, with no lock between them, each come out
// whole.
TEST(NodePool, ModelsOnTwoThreads) {
    auto work = [](std::string prefix, bool& intact) {
        intact = true;
        for (int round = 0; round < 20; ++round) {
            Model model = with_people(500, prefix);
            intact = intact && model.people.size() == 500u;
            for (const auto& [key, person] : model.people) intact = intact && person.nick == key;
        }
    };
    bool a = false;
    bool b = false;
    std::thread first(work, "a", std::ref(a));
    std::thread second(work, "b", std::ref(b));
    first.join();
    second.join();
    EXPECT_TRUE(a);
    EXPECT_TRUE(b);
}

}  // namespace
}  // namespace tessel
