// End to end: the server transcript (100,000 and 1,000,000 lines) fed to an engine in
// 4 KiB chunks, with the outgoing lines and the events drained after every chunk, as a host
// would; what the model costs in memory once the logs are full; and what dropping it costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/transcript.hpp"
#include "tessel_client/engine/engine.hpp"

namespace {

using namespace tessel::bench;

constexpr std::size_t kBlockLines = 100000;

// range(0) lines. Besides lines/s: the rate over the first and the last 100,000-line block (a
// log that gets slower as it fills shows here), and the time dropping the engine takes against
// the time feeding it.
void BM_EngineTranscript(benchmark::State& state) {
    std::string why;
    const std::string* text = transcript(static_cast<std::size_t>(state.range(0)), why);
    if (!text) {
        state.SkipWithError(why.c_str());
        return;
    }
    const std::string_view all(*text);
    const std::size_t lines = count_lines(all);
    // Block boundaries as byte offsets on chunk edges, so each block is fed as the whole run is.
    std::vector<std::size_t> block_ends;
    for (std::size_t at = 0, seen = 0, next = kBlockLines; at < all.size(); at += kChunk) {
        seen += count_lines(all.substr(at, kChunk));
        if (seen >= next || at + kChunk >= all.size()) {
            block_ends.push_back(std::min(at + kChunk, all.size()));
            next += kBlockLines;
        }
    }

    std::size_t events = 0;
    double feed_s = 0, drop_s = 0, first_block_s = 0, last_block_s = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto engine = connected_engine();
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        std::size_t from = 0;
        for (std::size_t b = 0; b < block_ends.size(); ++b) {
            const auto block_start = std::chrono::steady_clock::now();
            events += feed(*engine, all.substr(from, block_ends[b] - from));
            from = block_ends[b];
            const double took = seconds_since(block_start);
            if (b == 0) first_block_s += took;
            if (b + 1 == block_ends.size()) last_block_s += took;
        }
        feed_s += seconds_since(start);

        state.PauseTiming();
        const auto drop_start = std::chrono::steady_clock::now();
        engine.reset();  // tearing the model down is not part of the receive path
        drop_s += seconds_since(drop_start);
        state.ResumeTiming();
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text->size()));
    state.counters["events/iter"] = static_cast<double>(events) / iterations;
    if (block_ends.size() > 1) {
        const double last_lines = static_cast<double>(lines - kBlockLines * (block_ends.size() - 1));
        state.counters["first_block_lines/s"] = static_cast<double>(kBlockLines) * iterations / first_block_s;
        state.counters["last_block_lines/s"] = last_lines * iterations / last_block_s;
    }
    state.counters["drop/feed"] = drop_s / feed_s;
    state.counters["drop_ms"] = drop_s * 1e3 / iterations;
}
BENCHMARK(BM_EngineTranscript)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Peak resident memory gained over reading range(0) lines, per message the logs hold at the
// end. One run: the peak is the process's, reset before the run.
void BM_EngineTranscriptMemory(benchmark::State& state) {
    std::string why;
    const std::string* text = transcript(static_cast<std::size_t>(state.range(0)), why);
    if (!text) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        reset_peak_rss();
        const std::uint64_t before = rss_bytes();
        auto engine = connected_engine();
        feed(*engine, *text);
        const std::uint64_t growth = peak_rss_bytes() - before;
        const std::size_t stored = stored_messages(engine->model);
        state.counters["stored_messages"] = static_cast<double>(stored);
        state.counters["peak_rss_growth_MB"] = static_cast<double>(growth) / 1e6;
        state.counters["bytes/stored_message"] = static_cast<double>(growth) / static_cast<double>(stored);
        state.PauseTiming();
        engine.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EngineTranscriptMemory)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same transcript split into what the end-to-end figure is made of: parsing every line, and
// the model hand-off (reducer plus model_changed events) of every pre-parsed message. What the
// end-to-end time holds beyond these two is the engine's framing, keepalive and dispatch.
std::vector<std::string_view> transcript_lines(const std::string& text) {
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t lf = text.find('\n', at);
        std::size_t end = lf == std::string::npos ? text.size() : lf + 1;
        lines.push_back(std::string_view(text).substr(at, end - at));
        at = end;
    }
    return lines;
}

void BM_TranscriptParseOnly(benchmark::State& state) {
    std::string why;
    const std::string* text = transcript(100000, why);
    if (!text) {
        state.SkipWithError(why.c_str());
        return;
    }
    const auto lines = transcript_lines(*text);
    for (auto _ : state) {
        for (std::string_view line : lines) benchmark::DoNotOptimize(tessel::parse_line(line));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
}
BENCHMARK(BM_TranscriptParseOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_TranscriptModelOnly(benchmark::State& state) {
    std::string why;
    const std::string* text = transcript(100000, why);
    if (!text) {
        state.SkipWithError(why.c_str());
        return;
    }
    std::vector<tessel::IrcMessage> messages;
    for (std::string_view line : transcript_lines(*text))
        if (auto parsed = tessel::parse_line(line)) messages.push_back(std::move(*parsed));
    constexpr std::size_t kPerDrain = 20;  // about one 4 KiB chunk of this transcript

    for (auto _ : state) {
        state.PauseTiming();
        tessel::Config config;
        config.nick = "me";
        auto engine = std::make_unique<tessel::Engine>(config);
        state.ResumeTiming();

        std::size_t since_drain = 0;
        for (const tessel::IrcMessage& message : messages) {
            if (message.command == "005") {  // the server's features shape how the model reads names
                for (std::size_t i = 1; i + 1 < message.params.size(); ++i)
                    tessel::apply_isupport_token(engine->isupport, message.params[i]);
            } else {
                engine->apply_message(message, false);
            }
            if (++since_drain == kPerDrain) {
                since_drain = 0;
                while (auto line = engine->poll_transmit()) benchmark::DoNotOptimize(line);
                auto drained = engine->poll_events();
                benchmark::DoNotOptimize(drained.data());
            }
        }

        state.PauseTiming();
        engine.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * messages.size()));
}
BENCHMARK(BM_TranscriptModelOnly)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
