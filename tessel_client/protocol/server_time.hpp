// The "time" tag text: YYYY-MM-DDThh:mm:ss.mmmZ, UTC, milliseconds since 1970.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

std::optional<std::uint64_t> parse_server_time(std::string_view text);
std::string format_server_time(std::uint64_t ms);
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day);

}  // namespace tessel
