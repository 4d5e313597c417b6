// MONITOR target lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessel {

inline constexpr std::uint32_t kDefaultMonitorLimit = 100;

// Comma-joined groups of at most `limit` nicks (0 counts as 1); no group for no nicks.
std::vector<std::string> chunk_monitor_targets(const std::vector<std::string>& nicks, std::uint32_t limit);

}  // namespace tessel
