// The send side: Engine::execute of SendMessage on a registered engine, the transmit queue
// drained every 1,000 commands as a host would, under the capability sets that choose the path:
// echo-message alone (queue the line), labeled-response too (a label and a pending request per
// line), and neither (the local echo stores each message in the channel's log).
#include <benchmark/benchmark.h>

#include <string>

#include "tessel_client/engine/engine.hpp"

namespace {

using tessel::Command;
using tessel::Engine;

constexpr int kDrainEvery = 1000;

Engine registered(std::string_view caps) {
    tessel::Config config;
    config.nick = "me";
    Engine engine(std::move(config));
    engine.handle_connected();
    std::string lines = "CAP * LS :" + std::string(caps) + "\r\n";
    if (!caps.empty()) lines += "CAP * ACK :" + std::string(caps) + "\r\n";
    lines += ":srv 001 me :Welcome\r\n:me!u@h JOIN #tessel\r\n";
    engine.handle_bytes(lines);
    engine.transmit.clear();
    engine.poll_events();
    return engine;
}

void run(benchmark::State& state, std::string_view caps) {
    Engine engine = registered(caps);
    const std::string target = "#tessel";
    const std::string text = "a line of ordinary chat, about as long as most of them are";
    int since_drain = 0;
    for (auto _ : state) {
        engine.execute(Command::SendMessage{target, text});
        if (++since_drain == kDrainEvery) {
            since_drain = 0;
            engine.transmit.clear();
            engine.poll_events();
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["pending_labels"] = static_cast<double>(engine.pending_labels.size());
}

void BM_ExecuteSendMessage_EchoMessage(benchmark::State& state) { run(state, "echo-message"); }
void BM_ExecuteSendMessage_Labelled(benchmark::State& state) { run(state, "labeled-response echo-message"); }
void BM_ExecuteSendMessage_LocalEcho(benchmark::State& state) { run(state, ""); }

BENCHMARK(BM_ExecuteSendMessage_EchoMessage);
BENCHMARK(BM_ExecuteSendMessage_Labelled);
BENCHMARK(BM_ExecuteSendMessage_LocalEcho);

}  // namespace
