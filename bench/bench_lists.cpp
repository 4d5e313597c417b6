// Lists a host or a server can make long, each at n and 10n so that growth shows: metadata
// subscriptions, the reactors of one message, typing timers, pending labelled requests, the own
// user's modes, a member's status symbols under a long PREFIX and a voice roster with its
// streamers. Each should cost about ten times as much at 10n, not a hundred times.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tessel_client/engine/engine.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/model/reducer.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/utf8.hpp"
#include "tessel_client/voice/voice_room.hpp"

namespace {

using namespace tessel;

constexpr std::uint64_t kStartMs = 1'000'000;

IrcMessage parse(const std::string& line) {
    auto message = parse_line(line);
    if (!message) std::abort();
    return std::move(*message);
}

// A registered engine in channel #a, with the given capabilities enabled and its queues drained.
Engine registered(std::string_view caps) {
    Config config;
    config.nick = "me";
    Engine engine(std::move(config));
    engine.tick(kStartMs, 0);
    engine.handle_connected();
    std::string lines = "CAP * LS :" + std::string(caps) + "\r\n";
    if (!caps.empty()) lines += "CAP * ACK :" + std::string(caps) + "\r\n";
    lines += ":srv 001 me :Welcome\r\n:me!u@h JOIN #a\r\n";
    engine.handle_bytes(lines);
    engine.transmit.clear();
    engine.poll_events();
    return engine;
}

std::int64_t size_of(const benchmark::State& state) { return state.range(0); }

// One SubscribeMetadata of n keys, the second half repeating the first.
void BM_SubscribeMetadata(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    std::vector<std::string> keys;
    for (std::int64_t i = 0; i < n; ++i) keys.push_back("key" + std::to_string(i % (n / 2)));
    for (auto _ : state) {
        state.PauseTiming();
        Engine engine = registered("");
        Command command{Command::SubscribeMetadata{keys}};
        state.ResumeTiming();
        engine.execute(std::move(command));
        state.PauseTiming();
        if (engine.metadata_keys.size() != static_cast<std::size_t>(n / 2)) state.SkipWithError("keys lost");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SubscribeMetadata)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// n SubscribeMetadata commands of one new key each.
void BM_SubscribeMetadataOneByOne(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    std::vector<std::string> keys;
    for (std::int64_t i = 0; i < n; ++i) keys.push_back("key" + std::to_string(i));
    for (auto _ : state) {
        state.PauseTiming();
        Engine engine = registered("");
        state.ResumeTiming();
        for (const std::string& key : keys) {
            engine.execute(Command{Command::SubscribeMetadata{{key}}});
            engine.transmit.clear();
        }
        state.PauseTiming();
        if (engine.metadata_keys.size() != static_cast<std::size_t>(n)) state.SkipWithError("keys lost");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SubscribeMetadataOneByOne)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// n distinct nicks react to one message with one emoji, then each takes it back.
void BM_ReactorsOnOneMessage(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    Isupport isupport;
    std::vector<IrcMessage> reacts, unreacts;
    for (std::int64_t i = 0; i < n; ++i) {
        const std::string source = ":user" + std::to_string(i) + "!u@h TAGMSG #a";
        reacts.push_back(parse("@+draft/react=+1;+draft/reply=m1 " + source));
        unreacts.push_back(parse("@+draft/unreact=+1;+draft/reply=m1 " + source));
    }
    const IrcMessage original = parse("@msgid=m1 :bob!u@h PRIVMSG #a :react to this");
    for (auto _ : state) {
        state.PauseTiming();
        Model model = Model::make("me", 10);
        model.channel_entry("#a", "#a");
        std::uint64_t unix_ms = 0;
        ReduceContext ctx{model, isupport, unix_ms, false};
        reduce_message(ctx, original);
        state.ResumeTiming();
        for (const IrcMessage& m : reacts) benchmark::DoNotOptimize(reduce_message(ctx, m));
        for (const IrcMessage& m : unreacts) benchmark::DoNotOptimize(reduce_message(ctx, m));
        state.PauseTiming();
        const MessageLog& log = model.channels.begin()->second.log;
        if (log.extras(*log.find("m1")) != nullptr) state.SkipWithError("reactions left behind");
        model = Model();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * n);
}
BENCHMARK(BM_ReactorsOnOneMessage)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The TAGMSGs of n typists in #a, all arriving at the same moment.
std::string typing_lines(std::int64_t n) {
    std::string lines;
    for (std::int64_t i = 0; i < n; ++i) lines += "@+typing=active :user" + std::to_string(i) + "!u@h TAGMSG #a\r\n";
    return lines;
}

// A tick with nothing due and a poll_timeout while n typists are armed: what a host pays on
// every wake-up.
void BM_TickWithTypists(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    Engine engine = registered("");
    engine.handle_bytes(typing_lines(n));
    engine.poll_events();
    for (auto _ : state) {  // the clock stands still, so nothing falls due
        engine.tick(kStartMs, 0);
        benchmark::DoNotOptimize(engine.poll_timeout());
    }
    if (engine.model.channels.begin()->second.typing.size() != static_cast<std::size_t>(n))
        state.SkipWithError("typists lost");
}
BENCHMARK(BM_TickWithTypists)->Arg(20'000)->Arg(200'000)->Unit(benchmark::kMicrosecond);

// n typists armed, then all of them expiring in one tick.
void BM_TypistsExpire(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    const std::string lines = typing_lines(n);
    for (auto _ : state) {
        state.PauseTiming();
        Engine engine = registered("");
        state.ResumeTiming();
        engine.handle_bytes(lines);
        engine.tick(kStartMs + kTypingExpiryMs, 0);
        state.PauseTiming();
        if (engine.poll_events().size() != static_cast<std::size_t>(2 * n)) state.SkipWithError("events lost");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_TypistsExpire)->Arg(20'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

// An engine with n labelled WHOIS requests waiting for their answers.
Engine with_pending_labels(std::int64_t n) {
    Engine engine = registered("labeled-response");
    for (std::int64_t i = 0; i < n; ++i) engine.execute(Command{Command::Whois{"user" + std::to_string(i)}});
    engine.transmit.clear();
    return engine;
}

// A tick with nothing due while n labelled requests wait.
void BM_TickWithPendingLabels(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    Engine engine = with_pending_labels(n);
    for (auto _ : state) engine.tick(kStartMs, 0);
    if (engine.pending_labels.size() != static_cast<std::size_t>(n)) state.SkipWithError("requests lost");
}
BENCHMARK(BM_TickWithPendingLabels)->Arg(20'000)->Arg(200'000)->Unit(benchmark::kMicrosecond);

// n labelled requests sent, then all of them timing out in one tick.
void BM_PendingLabelsExpire(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    for (auto _ : state) {
        state.PauseTiming();
        Engine engine = registered("labeled-response");
        state.ResumeTiming();
        for (std::int64_t i = 0; i < n; ++i) engine.execute(Command{Command::Whois{"user" + std::to_string(i)}});
        engine.tick(kStartMs + kLabelAnswerMs, 0);
        state.PauseTiming();
        if (engine.poll_events().size() != static_cast<std::size_t>(n)) state.SkipWithError("timeouts lost");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_PendingLabelsExpire)->Arg(20'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

// n distinct code points from `first` on, as UTF-8.
std::string letters(char32_t first, std::int64_t n) {
    std::string out;
    for (std::int64_t i = 0; i < n; ++i) utf8_append(first + static_cast<char32_t>(i), out);
    return out;
}

// One user MODE line naming n new letters, then one taking them all back.
void BM_UserModeLine(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    Isupport isupport;
    const IrcMessage add = parse(":srv MODE me +" + letters(0x1000, n));
    const IrcMessage remove = parse(":srv MODE me -" + letters(0x1000, n));
    Model model = Model::make("me", 10);
    std::uint64_t unix_ms = 0;
    ReduceContext ctx{model, isupport, unix_ms, false};
    for (auto _ : state) {
        reduce_message(ctx, add);
        reduce_message(ctx, remove);
    }
    if (!model.me.modes.empty()) state.SkipWithError("modes left behind");
    state.SetItemsProcessed(state.iterations() * 2 * n);
}
BENCHMARK(BM_UserModeLine)->Arg(2'000)->Arg(20'000)->Unit(benchmark::kMillisecond);

// A PREFIX of n status modes and one MODE line giving a member all of them. The member's
// symbols are re-ranked at each change, so the line costs n^2 log n at best, and its length
// bounds n.
void BM_StatusModesUnderLongPrefix(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    Isupport isupport;
    apply_isupport_token(isupport, "PREFIX=(" + letters(0x100, n) + ")" + letters(0x800, n));
    std::string line = ":op!u@h MODE #a +" + letters(0x100, n);
    for (std::int64_t i = 0; i < n; ++i) line += " bob";
    const IrcMessage mode = parse(line);
    for (auto _ : state) {
        state.PauseTiming();
        Model model = Model::make("me", 10);
        std::uint64_t unix_ms = 0;
        ReduceContext ctx{model, isupport, unix_ms, false};
        reduce_message(ctx, parse(":me!u@h JOIN #a"));
        reduce_message(ctx, parse(":bob!u@h JOIN #a"));
        state.ResumeTiming();
        reduce_message(ctx, mode);
        state.PauseTiming();
        if (model.channels.begin()->second.members.at("bob").prefixes.size() != static_cast<std::size_t>(3 * n))
            state.SkipWithError("symbols lost");
        model = Model();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_StatusModesUnderLongPrefix)->Arg(100)->Arg(1'000)->Unit(benchmark::kMillisecond);

// A "joined" frame for a stream room listing n members and n streamers, half of them members.
void BM_VoiceRosterWithStreamers(benchmark::State& state) {
    const std::int64_t n = size_of(state);
    Signal::Joined joined;
    joined.streamers.emplace();
    for (std::int64_t i = 0; i < n; ++i) {
        joined.members.push_back("user" + std::to_string(i));
        joined.streamers->push_back("User" + std::to_string(2 * i));
    }
    const Signal signal{joined};
    for (auto _ : state) {
        VoiceRoom room = VoiceRoom::created_for("$stage");
        room.apply_signal("me", signal, CaseMapping::Rfc1459);
        if (room.members.size() != static_cast<std::size_t>(n)) state.SkipWithError("members lost");
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_VoiceRosterWithStreamers)->Arg(1'000)->Arg(10'000)->Unit(benchmark::kMillisecond);

}  // namespace
