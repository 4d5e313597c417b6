// Reducer throughput: message ingestion, a crowded millisecond, and a netsplit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tessel_client/model/message_log.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/model/reducer.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/server_time.hpp"

namespace {

using namespace tessel;

// A server-style msgid: 20 base32 characters that differ from the first one on.
std::string msgid_for(std::uint64_t i) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    std::uint64_t x = i * 0x9e3779b97f4a7c15ULL + 0x6a09e667f3bcc909ULL;
    std::string id;
    for (int n = 0; n < 20; ++n) {
        x ^= x >> 29;
        x *= 0xbf58476d1ce4e5b9ULL;
        id += kAlphabet[(x >> 59) & 31];
    }
    return id;
}

IrcMessage parse(const std::string& line) {
    auto message = parse_line(line);
    if (!message) std::abort();
    return std::move(*message);
}

Model joined_model(int channels, std::uint64_t retention) {
    Model model = Model::make("me", retention);
    for (int c = 0; c < channels; ++c) {
        const std::string name = "#chan" + std::to_string(c);
        model.channel_entry(irc_fold(CaseMapping::Rfc1459, name), name);
    }
    return model;
}

// 1,000,000 PRIVMSG lines with time and msgid tags, spread over 100 channels (retention 5000).
// range(0) picks the msgid style: 0 short ids that grow with the message count (they stay in
// the string's inline buffer), 1 random 20-character ids (heap-held, as servers send them).
void BM_IngestPrivmsg(benchmark::State& state) {
    const bool random_ids = state.range(0) == 1;
    constexpr int kChannels = 100;
    constexpr std::int64_t kMessages = 1'000'000;
    constexpr std::int64_t kChunk = 10'000;
    const std::uint64_t start_ms = 1'714'564'800'000ULL;
    Isupport isupport;
    std::vector<IrcMessage> chunk;
    chunk.reserve(kChunk);
    for (auto _ : state) {
        state.PauseTiming();
        Model model = joined_model(kChannels, 5000);
        std::uint64_t unix_ms = start_ms;
        state.ResumeTiming();
        for (std::int64_t done = 0; done < kMessages; done += kChunk) {
            state.PauseTiming();
            chunk.clear();
            for (std::int64_t i = done; i < done + kChunk; ++i) {
                const std::uint64_t t = start_ms + static_cast<std::uint64_t>(i) * 3;
                chunk.push_back(parse("@time=" + format_server_time(t) + ";msgid=" +
                                      (random_ids ? msgid_for(static_cast<std::uint64_t>(i))
                                                  : "m" + std::to_string(i)) +
                                      " :user" + std::to_string(i % 997) + "!ident@host.example PRIVMSG #chan" +
                                      std::to_string(i % kChannels) + " :message number " + std::to_string(i) +
                                      (i % 50 == 0 ? ", hey me" : ", nothing to see here")));
            }
            state.ResumeTiming();
            for (const IrcMessage& message : chunk) {
                ReduceContext ctx{model, isupport, unix_ms, false};
                benchmark::DoNotOptimize(reduce_message(ctx, message));
            }
        }
        state.PauseTiming();
        if (model.channels.begin()->second.log.messages.size() != 5000) state.SkipWithError("retention not applied");
        model = Model();  // freeing 500,000 messages is not ingestion
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_IngestPrivmsg)->ArgName("random_msgid")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

// A chathistory replay into a large log: N live messages, then N older ones (each with a
// random msgid) that land between them, in one log whose retention (1,000,000) trims nothing.
// Every insert is a search and an insertion, however far from the end it lands: N log N.
void BM_HistoryIntoLargeLog(benchmark::State& state) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    std::vector<MessageDraft> live, history;
    for (std::uint64_t i = 0; i < n; ++i) {
        MessageDraft m;
        m.key = MessageKey{1000 + 2 * i, i};
        m.msgid = msgid_for(i);
        m.sender = "user" + std::to_string(i % 997);
        m.text = "live message " + std::to_string(i);
        live.push_back(m);
        m.key = MessageKey{1001 + 2 * ((i * 7919) % n), n + i};  // scattered over the live range
        m.msgid = msgid_for(n + i);
        m.text = "history message " + std::to_string(i);
        history.push_back(std::move(m));
    }
    for (auto _ : state) {
        state.PauseTiming();
        MessageLog log(1'000'000);
        for (const MessageDraft& m : live) log.insert(m);
        state.ResumeTiming();
        for (const MessageDraft& m : history) benchmark::DoNotOptimize(log.insert(m));
        state.PauseTiming();
        if (log.messages.size() != 2 * n) state.SkipWithError("messages lost");
        log = MessageLog();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
    state.SetComplexityN(static_cast<std::int64_t>(n));
}
BENCHMARK(BM_HistoryIntoLargeLog)->Arg(10000)->Arg(40000)->Arg(160000)->Complexity()->Unit(benchmark::kMillisecond);

// N messages without msgid sharing one timestamp in one channel with the default retention
// 5000: linear, not quadratic, also once the log is full and trims the crowded millisecond.
void BM_SameTimestampNoMsgid(benchmark::State& state) {
    const auto n = state.range(0);
    constexpr std::uint64_t kRetention = 5000;
    Isupport isupport;
    std::vector<IrcMessage> messages;
    for (std::int64_t i = 0; i < n; ++i)
        messages.push_back(parse("@time=2024-05-01T12:00:00.000Z :bob!u@h PRIVMSG #chan0 :line " + std::to_string(i)));
    const auto kept = std::min<std::size_t>(static_cast<std::size_t>(n), kRetention);
    for (auto _ : state) {
        state.PauseTiming();
        Model model = joined_model(1, kRetention);
        std::uint64_t unix_ms = 0;
        state.ResumeTiming();
        for (const IrcMessage& message : messages) {
            ReduceContext ctx{model, isupport, unix_ms, false};
            benchmark::DoNotOptimize(reduce_message(ctx, message));
        }
        state.PauseTiming();
        if (model.channels.begin()->second.log.messages.size() != kept) state.SkipWithError("messages lost");
        model = Model();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetComplexityN(n);
}
BENCHMARK(BM_SameTimestampNoMsgid)
    ->Arg(1250)->Arg(2500)->Arg(5000)->Arg(10000)->Arg(20000)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);

// 5000 QUITs against 50 channels. range(0) is the number of memberships in all; every user is
// in two channels and the quitting users are the same 5000 whatever the total, so the
// memberships touched stay at 10,000 while the members around them grow.
void BM_Netsplit(benchmark::State& state) {
    constexpr int kChannels = 50;
    constexpr int kQuits = 5000;
    const auto memberships = state.range(0);
    const std::int64_t users = memberships / 2;
    Isupport isupport;
    std::vector<IrcMessage> names;
    for (int c = 0; c < kChannels; ++c) {
        std::string line = ":irc.example 353 me = #chan" + std::to_string(c) + " :";
        for (std::int64_t u = 0; u < users; ++u) {
            // user u sits in channels u % 50 and (u + 1) % 50
            if (u % kChannels == c || (u + 1) % kChannels == c) line += "user" + std::to_string(u) + " ";
        }
        names.push_back(parse(line));
    }
    std::vector<IrcMessage> quits;
    for (int q = 0; q < kQuits; ++q)
        quits.push_back(parse(":user" + std::to_string(q) + "!u@h QUIT :*.net *.split"));
    for (auto _ : state) {
        state.PauseTiming();
        Model model = joined_model(kChannels, 10);
        std::uint64_t unix_ms = 0;
        for (const IrcMessage& m : names) {
            ReduceContext ctx{model, isupport, unix_ms, false};
            reduce_message(ctx, m);
        }
        state.ResumeTiming();
        std::size_t changes = 0;
        for (const IrcMessage& m : quits) {
            ReduceContext ctx{model, isupport, unix_ms, false};
            changes += reduce_message(ctx, m).size();
        }
        state.PauseTiming();
        if (changes != 2 * kQuits || model.people.size() != static_cast<std::size_t>(users - kQuits))
            state.SkipWithError("unexpected pruning result");
        model = Model();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kQuits);
}
BENCHMARK(BM_Netsplit)->Arg(20000)->Arg(80000)->Arg(320000)->Unit(benchmark::kMillisecond);

}  // namespace
