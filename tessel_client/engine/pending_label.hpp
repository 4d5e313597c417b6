// A labelled request still waiting for its answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tessel {

inline constexpr std::uint64_t kLabelAnswerMs = 30000;

struct PendingLabel {
    std::string command;               // command word as sent
    std::optional<std::string> batch;  // the labelled BATCH answering it, once open
    std::uint64_t deadline = 0;

    bool operator==(const PendingLabel&) const = default;
};

}  // namespace tessel
