// Inputs whose SCRAM iteration count would make one run take seconds are passed over: the
// key derivation is the point of the count, and the fuzzer would spend its time there.
#pragma once

#include <cstdint>
#include <string_view>

#include "tessel_client/engine/scram.hpp"

namespace tessel::fuzz {

inline constexpr std::uint64_t kScramFuzzIterations = 1000;

// True when the first "i=" piece of a server-first message is a count above the budget that
// the client would still accept (larger ones are refused before any work).
inline bool scram_too_costly(std::string_view server_first) {
    for (std::size_t start = 0;;) {
        const std::size_t comma = server_first.find(',', start);
        std::string_view piece = server_first.substr(start, comma == server_first.npos ? server_first.npos : comma - start);
        if (piece.starts_with("i=")) {
            piece.remove_prefix(2);
            if (piece.starts_with('+')) piece.remove_prefix(1);
            std::uint64_t n = 0;
            for (char c : piece) {
                if (c < '0' || c > '9' || n > 0xffffffffu) return false;
                n = n * 10 + static_cast<std::uint64_t>(c - '0');
            }
            return n > kScramFuzzIterations && n <= kScramMaxIterations;
        }
        if (comma == server_first.npos) return false;
        start = comma + 1;
    }
}

}  // namespace tessel::fuzz
