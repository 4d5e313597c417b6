// Mode strings ("+ov-k a b c") as one entry per mode letter.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/protocol/isupport.hpp"

namespace tessel {

struct ModeChange {
    std::optional<std::string> param;
    char32_t mode = 0;
    bool adding = true;
    bool prefix_mode = false;
    bool operator==(const ModeChange&) const = default;
};

// `params`: the MODE parameters after the target (mode string first).
std::vector<ModeChange> parse_mode_changes(const Isupport& isupport, const std::vector<std::string>& params);
std::vector<ModeChange> parse_mode_letters(std::string_view letters);

}  // namespace tessel
