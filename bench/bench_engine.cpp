// End to end: a realistic 100,000-line server transcript fed to an engine in 4 KiB chunks,
// with the outgoing lines and the events drained after every chunk, as a host would.
//
// The transcript comes from TESSEL_TRANSCRIPT when set; otherwise it is generated once next to
// this program with the shared generator.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

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
    const std::string* text = transcript(why);
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
    const std::string* text = transcript(why);
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
