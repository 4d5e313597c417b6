// Keys of the engine's timer map: at most one deadline per key, ordered Idle < PingTimeout <
// Reconnect < Typing (typing keys by target, then nick, byte by byte).
#pragma once

#include <compare>
#include <cstdint>
#include <limits>
#include <string>
#include <variant>

namespace tessel {

struct TimerKey {
    struct Idle {
        auto operator<=>(const Idle&) const = default;
    };
    struct PingTimeout {
        auto operator<=>(const PingTimeout&) const = default;
    };
    struct Reconnect {
        auto operator<=>(const Reconnect&) const = default;
    };
    struct Typing {
        std::string target;  // folded
        std::string nick;    // folded
        auto operator<=>(const Typing&) const = default;
    };

    std::variant<Idle, PingTimeout, Reconnect, Typing> value;

    auto operator<=>(const TimerKey&) const = default;
};

inline constexpr std::uint64_t kIdleMs = 30000;
inline constexpr std::uint64_t kPingAnswerMs = 10000;
inline constexpr std::uint64_t kTypingExpiryMs = 6000;

// Deadlines never wrap.
inline std::uint64_t saturating_add(std::uint64_t base, std::uint64_t delay) {
    std::uint64_t sum = base + delay;
    return sum < base ? std::numeric_limits<std::uint64_t>::max() : sum;
}

}  // namespace tessel
