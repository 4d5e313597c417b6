// Memory per record where the server controls how many there are: a conversation holding one
// message (a private message from each of N distinct senders), and a channel member with their
// person record (N other nicks joining one channel). Counted by the heap this program replaces:
// every block the process holds, at the size the C library gives it, plus its one-word header.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "bench/transcript.hpp"
#include "tessel_client/engine/engine.hpp"

namespace {

std::atomic<std::int64_t> g_heap_bytes{0};

std::int64_t footprint(void* block) {
    return block == nullptr ? 0 : static_cast<std::int64_t>(malloc_usable_size(block) + sizeof(std::size_t));
}

void* counted(void* block) {
    if (block == nullptr) throw std::bad_alloc();
    g_heap_bytes.fetch_add(footprint(block), std::memory_order_relaxed);
    return block;
}

void release(void* block) noexcept {
    g_heap_bytes.fetch_sub(footprint(block), std::memory_order_relaxed);
    std::free(block);
}

void* aligned(std::size_t bytes, std::align_val_t align) {
    const auto a = static_cast<std::size_t>(align);
    return std::aligned_alloc(a, (bytes + a - 1) / a * a);
}

}  // namespace

void* operator new(std::size_t bytes) { return counted(std::malloc(bytes == 0 ? 1 : bytes)); }
void* operator new[](std::size_t bytes) { return counted(std::malloc(bytes == 0 ? 1 : bytes)); }
void* operator new(std::size_t bytes, std::align_val_t align) { return counted(aligned(bytes, align)); }
void* operator new[](std::size_t bytes, std::align_val_t align) { return counted(aligned(bytes, align)); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, std::align_val_t) noexcept { release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { release(block); }

namespace {

using namespace tessel;

constexpr std::int64_t kRecords = 1'000'000;

std::string nick_of(std::int64_t i) { return "guest" + std::to_string(i); }

// Heap held by the engine for its records, per record: the engine is set up with `setup`,
// then fed `line_of(i)` for i < kRecords; the lines are built beforehand and freed before the
// count is read.
template <class LineOf>
void bytes_per_record(benchmark::State& state, std::string_view setup, LineOf line_of) {
    for (auto _ : state) {
        state.PauseTiming();
        auto engine = bench::connected_engine();
        bench::feed(*engine, setup);
        std::int64_t held = 0;
        for (std::int64_t done = 0; done < kRecords;) {
            std::string text;
            for (std::int64_t end = done + 10000; done < end; ++done) text += line_of(done);
            const std::int64_t before = g_heap_bytes.load();
            state.ResumeTiming();
            bench::feed(*engine, text);
            state.PauseTiming();
            held += g_heap_bytes.load() - before;
        }
        state.counters["bytes/record"] = static_cast<double>(held) / static_cast<double>(kRecords);
        state.counters["records"] = static_cast<double>(kRecords);
        engine.reset();
        state.ResumeTiming();
    }
}

void BM_ConversationWithOneMessage(benchmark::State& state) {
    bytes_per_record(state, ":irc.example 001 me :Welcome\r\n", [](std::int64_t i) {
        return "@time=2026-03-02T09:00:00.000Z;msgid=AbCdEfGhIjKlMnOp" + std::to_string(i) + " :" + nick_of(i) +
               "!~guest@gateway/web/" + std::to_string(i) + " PRIVMSG me :hello there, are you around today?\r\n";
    });
}
BENCHMARK(BM_ConversationWithOneMessage)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ChannelMemberWithPerson(benchmark::State& state) {
    bytes_per_record(state, ":irc.example 001 me :Welcome\r\n:me!~me@user/me JOIN #flood\r\n", [](std::int64_t i) {
        return ":" + nick_of(i) + "!~guest@gateway/web/" + std::to_string(i) + " JOIN #flood\r\n";
    });
}
BENCHMARK(BM_ChannelMemberWithPerson)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
