// Bot announcements through the whole receive path: 10,000 bots of 50 commands each, fed to
// a fresh engine in 64 KiB chunks with the events drained after every chunk. The registry's
// memory is counted with the heap itself: the registry's share is what emptying it gives back,
// summed from the freed blocks' usable sizes (the timed part pays no counting).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "tessel_client/engine/base64.hpp"
#include "tessel_client/engine/engine.hpp"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_freed_bytes{0};

void* counted_alloc(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    return p;
}

void counted_free(void* p) noexcept {
    if (!p) return;
    if (g_counting.load(std::memory_order_relaxed))
        g_freed_bytes.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }

namespace {

constexpr int kBots = 10000;
constexpr int kCommands = 50;

// One TAGMSG per bot, as a server sends them: bot id, nick and commands, with descriptions
// long enough to live on the heap or with names only.
std::string make_announcements(bool described) {
    std::string out;
    for (int b = 0; b < kBots; ++b) {
        std::string json = R"({"nick":"Bot)" + std::to_string(b) + R"(","bot_id":"id-)" + std::to_string(b) +
                           R"(","event":"register","commands":[)";
        for (int c = 0; c < kCommands; ++c) {
            if (c) json += ',';
            json += R"({"name":"cmd)" + std::to_string(c) + '"';
            if (described) json += R"(,"description":"Runs command )" + std::to_string(c) + R"( of this bot")";
            json += '}';
        }
        json += "]}";
        out += "@tesselnet/bot-info=" + tessel::base64_encode(json) + " :srv TAGMSG me\r\n";
    }
    return out;
}

// Argument: 1 with descriptions, 0 names only.
void BM_BotAnnouncements(benchmark::State& state) {
    static const std::string texts[] = {make_announcements(false), make_announcements(true)};
    const std::string& text = texts[state.range(0)];
    constexpr std::size_t kChunk = 65536;
    std::size_t registry_bytes = 0;
    std::size_t bots = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tessel::Config config;
        config.nick = "me";
        auto engine = std::make_unique<tessel::Engine>(config);
        state.ResumeTiming();

        for (std::size_t at = 0; at < text.size(); at += kChunk) {
            engine->handle_bytes(std::string_view(text).substr(at, kChunk));
            auto drained = engine->poll_events();
            benchmark::DoNotOptimize(drained.data());
        }

        state.PauseTiming();
        bots = engine->bots.size();
        g_freed_bytes = 0;
        g_counting = true;
        engine->bots.clear();
        g_counting = false;
        registry_bytes = g_freed_bytes.load();
        engine.reset();
        state.ResumeTiming();
    }
    if (bots != static_cast<std::size_t>(kBots)) state.SkipWithError("not every bot was registered");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBots);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["registry_MiB"] = static_cast<double>(registry_bytes) / (1024.0 * 1024.0);
    state.counters["bytes/bot"] = static_cast<double>(registry_bytes) / kBots;
}
BENCHMARK(BM_BotAnnouncements)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
