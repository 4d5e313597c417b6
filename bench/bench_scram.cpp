// One SCRAM-SHA-256 client-final computation at the largest iteration count a server may ask
// for: the most work a single AUTHENTICATE line can cost the engine.
#include <benchmark/benchmark.h>

#include <string>
#include <variant>

#include "tessel_client/engine/scram.hpp"

namespace {

void BM_ScramClientFinal(benchmark::State& st) {
    const auto iterations = static_cast<std::uint32_t>(st.range(0));
    const std::string server_first = "r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,"
                                     "s=W22ZaJ0SNY7soEsUEjb6gQ==,i=" +
                                     std::to_string(iterations);
    const tessel::ScramState first =
        tessel::scram_client_first("user", "pencil", "rOprNGfwEbeRWgbNEkqO").first;
    for (auto _ : st) {
        tessel::ScramState state = first;
        auto result = tessel::scram_client_final(state, server_first);
        if (!std::holds_alternative<std::string>(result)) {
            st.SkipWithError("server-first refused");
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    st.counters["pbkdf2_iterations/s"] = benchmark::Counter(
        static_cast<double>(iterations) * static_cast<double>(st.iterations()),
        benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ScramClientFinal)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
