// Line codec throughput over a committed corpus of server lines
// (bench/data/server_lines.txt, made by scripts/gen_server_lines.py).
// items/s is lines per second; bytes/s counts the line text without its LF.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/server_time.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace {

// The lines lie one after another in one buffer, as they do in a receive buffer.
struct Corpus {
    std::string text;
    std::vector<std::string_view> lines;
    std::vector<tessel::IrcMessage> messages;
    std::size_t bytes = 0;
};

const Corpus& corpus() {
    static const Corpus c = [] {
        Corpus c;
        const std::string path = TESSEL_SOURCE_DIR "/bench/data/server_lines.txt";
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error("cannot open " + path);
        c.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        for (std::size_t pos = 0; pos < c.text.size();) {
            std::size_t end = c.text.find('\n', pos);
            if (end == std::string::npos) end = c.text.size();
            const std::string_view line(c.text.data() + pos, end - pos);
            pos = end + 1;
            c.bytes += line.size();
            auto msg = tessel::parse_line(line);
            if (!msg) throw std::runtime_error("corpus line does not parse: " + std::string(line));
            c.messages.push_back(std::move(*msg));
            c.lines.push_back(line);
        }
        return c;
    }();
    return c;
}

void report(benchmark::State& state, std::size_t bytes) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * corpus().lines.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_ParseLine(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        for (const std::string_view line : c.lines) {
            auto msg = tessel::parse_line(line);
            benchmark::DoNotOptimize(msg);
        }
    }
    report(state, c.bytes);
}
BENCHMARK(BM_ParseLine);

// The receive path: one reused message, so its buffers are kept from line to line.
void BM_ParseLineInto(benchmark::State& state) {
    const Corpus& c = corpus();
    tessel::IrcMessage msg;
    for (auto _ : state) {
        for (const std::string_view line : c.lines) {
            benchmark::DoNotOptimize(tessel::parse_line_into(line, msg));
            benchmark::DoNotOptimize(msg.params.data());
        }
    }
    report(state, c.bytes);
}
BENCHMARK(BM_ParseLineInto);

// The check every received line passes before it is parsed.
void BM_Utf8Valid(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        for (const std::string_view line : c.lines) benchmark::DoNotOptimize(tessel::utf8_valid(line));
    }
    report(state, c.bytes);
}
BENCHMARK(BM_Utf8Valid);

// The "time" tag of every corpus line that has one; items/s is times per second.
void BM_ParseServerTime(benchmark::State& state) {
    std::vector<std::string> stamps;
    for (const tessel::IrcMessage& msg : corpus().messages)
        if (auto stamp = tessel::find_tag(msg.tags, "time")) stamps.emplace_back(*stamp);
    for (auto _ : state) {
        for (const std::string& stamp : stamps) benchmark::DoNotOptimize(tessel::parse_server_time(stamp));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * stamps.size()));
}
BENCHMARK(BM_ParseServerTime);

// The writer appending into one reused buffer, as the transmit queue does.
void BM_WriteLine(benchmark::State& state) {
    const Corpus& c = corpus();
    std::string out;
    out.reserve(1024);
    for (auto _ : state) {
        for (const tessel::IrcMessage& msg : c.messages) {
            out.clear();
            msg.write(out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    report(state, c.bytes);
}
BENCHMARK(BM_WriteLine);

void BM_ToLine(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        for (const tessel::IrcMessage& msg : c.messages) {
            std::string line = msg.to_line();
            benchmark::DoNotOptimize(line);
        }
    }
    report(state, c.bytes);
}
BENCHMARK(BM_ToLine);

// Lossy decoding runs on every received line before it is parsed.
void BM_Utf8Lossy(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        for (const std::string_view line : c.lines) {
            std::string text = tessel::utf8_lossy(line);
            benchmark::DoNotOptimize(text);
        }
    }
    report(state, c.bytes);
}
BENCHMARK(BM_Utf8Lossy);

void BM_DecodeAndParse(benchmark::State& state) {
    const Corpus& c = corpus();
    for (auto _ : state) {
        for (const std::string_view line : c.lines) {
            auto msg = tessel::parse_line(tessel::utf8_lossy(line));
            benchmark::DoNotOptimize(msg);
        }
    }
    report(state, c.bytes);
}
BENCHMARK(BM_DecodeAndParse);

}  // namespace
