// Nick and channel name folding under the server's CASEMAPPING.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessel {

enum class CaseMapping : std::uint8_t { Ascii = 0, Rfc1459 = 1, Rfc1459Strict = 2 };

std::string irc_fold(CaseMapping mapping, std::string_view name);
bool irc_equal(CaseMapping mapping, std::string_view a, std::string_view b);

}  // namespace tessel
