// Host JSON formats: the model snapshot, the event list, and reading a configuration.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/transcript.hpp"

#include "tessel_client/formats/config_json.hpp"
#include "tessel_client/formats/event_json.hpp"
#include "tessel_client/formats/model_json.hpp"

namespace tessel {
namespace {

std::string nick_of(int i) { return "User" + std::to_string(i); }

// 50 channels with 5000 messages each, 2000 people.
Model make_big_model() {
    Model model = Model::make("me", 5000);
    for (int p = 0; p < 2000; ++p) {
        const std::string nick = nick_of(p);
        std::string key = nick;
        for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        Person& person = model.person_entry(key, nick);
        person.account = nick;
        person.username = "~u" + std::to_string(p);
        person.host = "host-" + std::to_string(p) + ".example.net";
        person.realname = "Real Name " + std::to_string(p);
    }
    std::uint64_t seq = 0;
    for (int c = 0; c < 50; ++c) {
        const std::string name = "#channel-" + std::to_string(c);
        Channel& chan = model.channel_entry(name, name);
        chan.topic = "Welcome to " + name + " | be nice";
        chan.modes = {{U'n', std::nullopt}, {U't', std::nullopt}};
        for (int m = 0; m < 40; ++m) {
            std::string key = nick_of(c * 40 + m);
            for (char& ch : key) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
            model.member_entry(name, chan, key).prefixes = m == 0 ? "@" : "";
        }
        chan.log = MessageLog(5000);
        for (int i = 0; i < 5000; ++i) {
            MessageDraft msg;
            msg.key = MessageKey{1700000000000ull + static_cast<std::uint64_t>(i) * 1000, seq++};
            msg.msgid = "msg" + std::to_string(c) + "x" + std::to_string(i) + "AbCdEfGh";
            msg.sender = nick_of((c * 40 + i) % 2000);
            msg.kind = MessageKind{MessageKind::Privmsg{}};
            msg.text = "message number " + std::to_string(i) +
                       " in the channel, with some \"quoted\" words and a tab\there to make it realistic";
            msg.account = msg.sender;
            chan.log.insert(std::move(msg));
        }
    }
    model.next_seq = seq;
    return model;
}

void BM_ModelToJson(benchmark::State& state) {
    static const Model model = make_big_model();
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string json = model_to_json(model);
        bytes += json.size();
        benchmark::DoNotOptimize(json.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ModelToJson)->Unit(benchmark::kMillisecond);

// The snapshot of the model the transcript of range(0) lines leaves behind (the logs
// full at the default retention), in MB/s of JSON written.
void BM_ModelToJsonTranscript(benchmark::State& state) {
    static std::map<std::int64_t, std::unique_ptr<Engine>> fed;
    auto& engine = fed[state.range(0)];
    if (!engine) {
        std::string why;
        const std::string* text = bench::transcript(static_cast<std::size_t>(state.range(0)), why);
        if (!text) {
            state.SkipWithError(why.c_str());
            return;
        }
        engine = bench::connected_engine();
        bench::feed(*engine, *text);
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string json = model_to_json(engine->model);
        bytes = json.size();
        benchmark::DoNotOptimize(json.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["json_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ModelToJsonTranscript)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// 100,000 queued events, alternately model_changed and raw_line.
std::vector<Event> make_events() {
    std::vector<Event> events;
    events.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
        if (i % 2 == 0) {
            events.push_back(Event{Event::ModelChanged{
                Change{Change::MessageAdded{"#channel-" + std::to_string(i % 50),
                                            MessageKey{1700000000000ull + static_cast<std::uint64_t>(i),
                                                       static_cast<std::uint64_t>(i)}}}}});
        } else {
            IrcMessage m;
            m.tags = {Tag{"time", "2024-01-01T00:00:00.000Z"}, Tag{"msgid", "abc" + std::to_string(i)}};
            m.source = Source{nick_of(i % 2000), "~user", "host.example.net"};
            m.command = "PRIVMSG";
            m.params = {"#channel-" + std::to_string(i % 50), "a line of chat text that changed nothing, number " +
                                                                  std::to_string(i)};
            events.push_back(Event{Event::RawLine{std::move(m)}});
        }
    }
    return events;
}

void BM_EventsToJson(benchmark::State& state) {
    static const std::vector<Event> events = make_events();
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string json = events_to_json(events);
        bytes += json.size();
        benchmark::DoNotOptimize(json.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_EventsToJson)->Unit(benchmark::kMillisecond);

// About 10 KB of configuration: a long list of alternative nicks.
std::string config_with_alt_nicks() {
    std::string text = R"({"nick":"alpha","username":"alpha","realname":"Alpha Tester","password":"secret",)"
                       R"("sasl":{"mechanism":"scram","username":"alpha","password":"pa\"ss","nonce":"rOprNGfwEbeRWgbNEkqO"},)"
                       R"("retention":5000,"alt_nicks":[)";
    for (int i = 0; text.size() < 10 * 1024 - 32; ++i) {
        if (i != 0) text += ',';
        text += "\"alpha_alternative_" + std::to_string(i) + "\"";
    }
    text += "]}";
    return text;
}

// About 10 KB of configuration, most of it under keys the reader skips.
std::string config_with_unknown_keys() {
    std::string text = R"({"nick":"alpha","sasl":["plain","alpha","secret"],"ui":{"theme":"dark","panes":[)";
    for (int i = 0; text.size() < 10 * 1024 - 64; ++i) {
        if (i != 0) text += ',';
        text += R"({"id":)" + std::to_string(i) + R"(,"width":0.25,"title":"pane \u00e9 )" + std::to_string(i) +
                R"(","flags":[true,false,null]})";
    }
    text += R"(]},"retention":100})";
    return text;
}

void read_config_bench(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto result = config_from_json(text);
        if (!result.ok()) {
            state.SkipWithError(result.error().shown().c_str());
            break;
        }
        benchmark::DoNotOptimize(result.value().nick.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_ConfigFromJson_AltNicks(benchmark::State& state) {
    static const std::string text = config_with_alt_nicks();
    read_config_bench(state, text);
}
BENCHMARK(BM_ConfigFromJson_AltNicks);

void BM_ConfigFromJson_SkippedKeys(benchmark::State& state) {
    static const std::string text = config_with_unknown_keys();
    read_config_bench(state, text);
}
BENCHMARK(BM_ConfigFromJson_SkippedKeys);

// About 10 KB of credentials whose other members the first pass of the tagged union holds
// whole and the second passes over: the road a command text takes. Three shapes of the
// held part: one long text (a raw line or a message), a long list of short texts (nicks to
// watch), and many small objects (the worst case: a value allocated per few bytes).
std::string credentials_with_kept(int shape) {
    std::string text = R"({"mechanism":"scram","username":"alpha","password":"pa\"ss","nonce":"rOprNGfwEbeRWgbNEkqO",)";
    const std::size_t target = 10 * 1024 - 64;
    if (shape == 0) {
        text += R"("line":"PRIVMSG #channel :)";
        for (int i = 0; text.size() < target; ++i) text += "words of a long line \u00e9 " + std::to_string(i) + " ";
        text += R"(")";
    } else if (shape == 1) {
        text += R"("nicks":[)";
        for (int i = 0; text.size() < target; ++i) text += (i != 0 ? ",\"nick_" : "\"nick_") + std::to_string(i) + "\"";
        text += "]";
    } else {
        for (int i = 0; text.size() < target; ++i) {
            text += R"("extra_)" + std::to_string(i) + R"(":{"text":"some words \u00e9 here","n":)" +
                    std::to_string(i) + R"(,"list":["a","b",null,true]},)";
        }
        text += R"("last":0)";
    }
    text += "}";
    return text;
}

void BM_CredentialsFromJson_Kept(benchmark::State& state) {
    static const std::string texts[] = {credentials_with_kept(0), credentials_with_kept(1), credentials_with_kept(2)};
    const std::string& text = texts[state.range(0)];
    for (auto _ : state) {
        auto result = credentials_from_json(text);
        if (!result.ok()) {
            state.SkipWithError(result.error().shown().c_str());
            break;
        }
        benchmark::DoNotOptimize(&result.value());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
// 0: one long text; 1: a list of short texts; 2: many small objects.
BENCHMARK(BM_CredentialsFromJson_Kept)->Arg(0)->Arg(1)->Arg(2);

}  // namespace
}  // namespace tessel
