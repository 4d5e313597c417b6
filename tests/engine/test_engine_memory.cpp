#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "engine_harness.hpp"
#include "tessel_client/model/node_pool.hpp"
#include "tests/heap_in_use.hpp"

namespace tessel::testing {
namespace {

// A client used and dropped gives back every byte it took, its model's node pool included:
// registered, in a channel that is renamed, through nick changes and a disconnect.
TEST(EngineMemory, AnEngineGivesBackAllItsMemory) {
    auto lifetime = [] {
        Harness h;
        h.register_with({}, "PREFIX=(ov)@+ CHANTYPES=#");
        h.recv_all({":me!u@h JOIN #a", ":srv 353 me = #a :@me +bob", ":bob!u@h PRIVMSG #a :hi",
                    ":srv RENAME #a #b :moved", ":bob!u@h NICK rob", ":rob!u@h PRIVMSG me :psst"});
        const bool renamed = h.engine.model.channels.contains("#b");
        h.engine.handle_disconnected();
        h.drain();
        return renamed;
    };
    ASSERT_TRUE(lifetime());  // also makes whatever is made once per process
    const std::size_t pools = NodePool::live_pools();
    const std::size_t heap = tessel::test::heap_in_use();
    for (int i = 0; i < 1000; ++i) lifetime();
    EXPECT_EQ(NodePool::live_pools(), pools);
    // Less than a byte per lifetime: the allocator's caches of freed blocks may end a block
    // fuller or emptier, while anything kept per lifetime adds up to tens of kilobytes.
    EXPECT_LT(std::int64_t(tessel::test::heap_in_use()) - std::int64_t(heap), 1000);
}

}  // namespace
}  // namespace tessel::testing
