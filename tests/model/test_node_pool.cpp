#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
#include <atomic>

#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tessel_client/model/node_pool.hpp"

namespace tessel {
namespace {

// Blocks of mixed sizes that are live at once never overlap and suit any node's alignment;
// a freed block serves the next request of its size.
TEST(NodePool, LiveBlocksAreDistinctAlignedAndReused) {
    std::vector<std::pair<char*, std::size_t>> live;
    for (std::size_t i = 0; i < 20000; ++i) {
        const std::size_t bytes = 1 + (i * 37) % node_pool::kMaxBytes;
        auto* block = static_cast<char*>(node_pool::allocate(bytes));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
        live.emplace_back(block, bytes);
    }
    auto sorted = live;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 1; i < sorted.size(); ++i)
        ASSERT_LE(sorted[i - 1].first + sorted[i - 1].second, sorted[i].first);

    char* freed = live.back().first;
    const std::size_t bytes = live.back().second;
    node_pool::deallocate(freed, bytes);
    live.pop_back();
    EXPECT_EQ(node_pool::allocate(bytes), freed);
    live.emplace_back(freed, bytes);
    for (auto [block, size] : live) node_pool::deallocate(block, size);
}

// Once every block is back, the pool hands blocks out in address order again instead of in
// the scrambled order they were freed in, so a model built after another was dropped is laid
// out as compactly as the first.
TEST(NodePool, AnEmptiedPoolStartsOverInOrder) {
    std::vector<void*> blocks;
    for (int i = 0; i < 2000; ++i) blocks.push_back(node_pool::allocate(96));  // within one slab
    std::vector<void*> shuffled = blocks;
    for (std::size_t i = shuffled.size() - 1; i > 0; --i) std::swap(shuffled[i], shuffled[(i * 7919) % (i + 1)]);
    for (void* block : shuffled) node_pool::deallocate(block, 96);

    blocks.clear();
    for (int i = 0; i < 2000; ++i) blocks.push_back(node_pool::allocate(96));  // within one slab
    EXPECT_TRUE(std::is_sorted(blocks.begin(), blocks.end(), std::less<>()));
    for (void* block : blocks) node_pool::deallocate(block, 96);
}

// Engines may live on different threads: two threads allocating, filling and freeing at
// once each find their own bytes intact.
TEST(NodePool, ThreadsShareThePool) {
    auto work = [](char fill, bool& intact) {
        intact = true;
        std::vector<char*> blocks;
        for (int round = 0; round < 200; ++round) {
            for (int i = 0; i < 100; ++i) {
                auto* block = static_cast<char*>(node_pool::allocate(96));
                std::memset(block, fill, 96);
                blocks.push_back(block);
            }
            for (char* block : blocks) {
                intact = intact && std::all_of(block, block + 96, [fill](char c) { return c == fill; });
                node_pool::deallocate(block, 96);
            }
            blocks.clear();
        }
    };
    bool a = false;
    bool b = false;
    std::thread first(work, 'a', std::ref(a));
    std::thread second(work, 'b', std::ref(b));
    first.join();
    second.join();
    EXPECT_TRUE(a);
    EXPECT_TRUE(b);
}

// A fork while another thread is inside the pool leaves the child a usable pool, not a lock
// held by a thread it does not have.
TEST(NodePool, ForkWhileAnotherThreadAllocates) {
    std::atomic<bool> stop{false};
    std::atomic<bool> running{false};
    std::thread busy([&] {
        while (!stop) {
            node_pool::deallocate(node_pool::allocate(64), 64);
            running = true;
        }
    });
    while (!running) std::this_thread::yield();  // forks while the thread starts test nothing here
    bool all_exited_cleanly = true;
    for (int i = 0; i < 20; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            alarm(10);  // a child stuck on the lock dies of the alarm instead of hanging the test
            node_pool::deallocate(node_pool::allocate(64), 64);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        all_exited_cleanly = all_exited_cleanly && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    stop = true;
    busy.join();
    EXPECT_TRUE(all_exited_cleanly);
}

}  // namespace
}  // namespace tessel
