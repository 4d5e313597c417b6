// Voice signalling: the wire form of a typical offer (a 4 KB session description with two
// tracks and a chunk) written and read, in bytes/s of its wire text; and a burst of 100,000
// presence frames for 1,000 members of one room through handle_bytes, in frames/s (items/s).
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>

#include "tessel_client/engine/engine.hpp"
#include "tessel_client/voice/signal_wire.hpp"

namespace {

using namespace tessel;

// A session description of the usual shape, lines ending in CR LF, grown to 4 KB.
std::string session_description() {
    std::string sdp =
        "v=0\r\no=- 4611731400430051336 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\na=group:BUNDLE 0 1\r\n"
        "a=msid-semantic: WMS stream\r\nm=audio 9 UDP/TLS/RTP/SAVPF 111 63 9 0 8 13 110 126\r\n"
        "c=IN IP4 0.0.0.0\r\na=rtcp:9 IN IP4 0.0.0.0\r\na=ice-ufrag:8hhY\r\na=ice-pwd:asd88fgpdd777uzjYhagZg\r\n"
        "a=fingerprint:sha-256 7B:8B:F0:65:5F:78:E2:51:3B:AC:6F:F3:3F:46:1B:35:DC:B8:5F:64:1A:24:C2:43:F0:A1:58:D0:A1:2C:19:08\r\n"
        "a=setup:actpass\r\na=mid:0\r\na=sendrecv\r\na=rtcp-mux\r\na=rtpmap:111 opus/48000/2\r\n"
        "a=fmtp:111 minptime=10;useinbandfec=1\r\n";
    for (int i = 0; sdp.size() < 4096; ++i) {
        sdp += "a=candidate:" + std::to_string(842163049 + i) +
               " 1 udp 1677729535 203.0.113." + std::to_string(i % 250) + " " + std::to_string(40000 + i) +
               " typ srflx raddr 10.0.0." + std::to_string(i % 250) + " rport 5000" + std::to_string(i % 10) +
               " generation 0 network-cost 999\r\n";
    }
    return sdp;
}

Signal typical_offer() {
    return Signal{Signal::Offer{session_description(), std::vector<TrackHint>{{"0", "alice"}, {"1", "alice"}},
                                ChunkMeta{"offer-7f3a", 0, 1}}};
}

void BM_WireEncodeOffer(benchmark::State& state) {
    const Signal offer = typical_offer();
    const std::size_t bytes = signal_to_wire(offer).size();
    for (auto _ : state) {
        std::string wire = signal_to_wire(offer);
        benchmark::DoNotOptimize(wire);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WireEncodeOffer);

void BM_WireDecodeOffer(benchmark::State& state) {
    const std::string wire = signal_to_wire(typical_offer());
    if (signal_from_wire(wire) != typical_offer()) throw std::runtime_error("offer does not read back");
    for (auto _ : state) {
        auto signal = signal_from_wire(wire);
        benchmark::DoNotOptimize(signal);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * wire.size()));
}
BENCHMARK(BM_WireDecodeOffer);

constexpr int kMembers = 1000;
constexpr int kFrames = 100000;
// What one transport read hands over at a time; the host drains events after each.
constexpr std::size_t kReadBytes = 64 * 1024;

std::string presence_line(int member, std::string_view state, std::string_view kind) {
    const std::string nick = "member" + std::to_string(member);
    std::string line = R"(@+vantaweb/rtc={"type":"presence","member":")" + nick + R"(","state":")" + std::string(state) + '"';
    if (!kind.empty()) line += R"(,"kind":")" + std::string(kind) + '"';
    line += "} :" + nick + "!u@host.example TAGMSG #voice\r\n";
    return line;
}

void BM_PresenceBurst(benchmark::State& state) {
    Config config;
    config.nick = "me";
    Engine engine(config);
    std::string joins;
    for (int m = 0; m < kMembers; ++m) joins += presence_line(m, "joined", "");
    engine.handle_bytes(joins);
    engine.poll_events();

    // Each member's frames come round in turn: mic on and off, speaking and silent.
    static constexpr std::pair<std::string_view, std::string_view> kStates[] = {
        {"on", "mic"}, {"speaking", ""}, {"silent", ""}, {"off", "mic"}};
    std::string burst;
    for (int i = 0; i < kFrames; ++i) {
        const auto& [s, kind] = kStates[(i / kMembers) % 4];
        burst += presence_line(i % kMembers, s, kind);
    }

    for (auto _ : state) {
        for (std::size_t at = 0; at < burst.size(); at += kReadBytes) {
            engine.handle_bytes(std::string_view(burst).substr(at, kReadBytes));
            auto events = engine.poll_events();
            benchmark::DoNotOptimize(events);
        }
    }
    if (engine.voice_rooms.size() != 1 || engine.voice_rooms.begin()->second.members.size() != kMembers ||
        engine.malformed_lines != 0)
        throw std::runtime_error("the burst did not reach one room of 1000 members");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kFrames));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * burst.size()));
}
BENCHMARK(BM_PresenceBurst)->Unit(benchmark::kMillisecond);

}  // namespace
