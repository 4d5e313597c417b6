// End to end: a realistic 100,000-line server transcript fed to an engine in 4 KiB chunks,
// with the outgoing lines and the events drained after every chunk, as a host would.
//
// The transcript comes from TESSEL_TRANSCRIPT when set; otherwise it is generated once next to
// this program with the shared generator.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "tessel_client/engine/engine.hpp"

namespace {

namespace fs = std::filesystem;

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::string> load_transcript(std::string& why) {
    if (const char* given = std::getenv("TESSEL_TRANSCRIPT")) {
        auto text = read_file(given);
        if (!text) why = std::string("cannot read TESSEL_TRANSCRIPT=") + given;
        return text;
    }
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    fs::path path = (ec ? fs::current_path() : self.parent_path()) / "transcript_100k.txt";
    if (auto text = read_file(path)) return text;
    fs::path generator = fs::path(TESSEL_SHARED_DIR) / "bench" / "make_transcript.py";
    std::string command = "/usr/bin/python3 '" + generator.string() + "' '" + path.string() + "' 2>/dev/null";
    if (!fs::exists(generator) || std::system(command.c_str()) != 0) {
        why = "no transcript: set TESSEL_TRANSCRIPT or make " + generator.string() + " runnable";
        return std::nullopt;
    }
    auto text = read_file(path);
    if (!text) why = "generated transcript unreadable: " + path.string();
    return text;
}

const std::string* transcript(std::string& why) {
    static std::string reason;
    static const std::optional<std::string> text = load_transcript(reason);
    why = reason;
    return text ? &*text : nullptr;
}

void BM_EngineTranscript(benchmark::State& state) {
    std::string why;
    const std::string* text = transcript(why);
    if (!text) {
        state.SkipWithError(why.c_str());
        return;
    }
    std::size_t lines = 0;
    for (char c : *text) lines += c == '\n';
    constexpr std::size_t kChunk = 4096;

    std::size_t events = 0;
    for (auto _ : state) {
        state.PauseTiming();
        tessel::Config config;
        config.nick = "me";
        auto engine = std::make_unique<tessel::Engine>(config);
        engine->handle_connected();
        while (engine->poll_transmit()) {
        }
        state.ResumeTiming();

        for (std::size_t at = 0; at < text->size(); at += kChunk) {
            engine->handle_bytes(std::string_view(*text).substr(at, kChunk));
            while (auto line = engine->poll_transmit()) benchmark::DoNotOptimize(line);
            auto drained = engine->poll_events();
            events += drained.size();
            benchmark::DoNotOptimize(drained.data());
        }

        state.PauseTiming();
        engine.reset();  // tearing the model down is not part of the receive path
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text->size()));
    state.counters["events/iter"] = static_cast<double>(events) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EngineTranscript)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
