// The wire form of a Signal: the compact JSON object carried in the "+vantaweb/rtc" tag.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tessel_client/voice/signal.hpp"

namespace tessel {

// The tag value (before tag escaping) of one frame: "type" first, absent fields left out,
// the chunk's keys flattened into the object after the others. Never fails.
std::string signal_to_wire(const Signal& signal);

// The frame in one unescaped tag value, or nothing when the text is not a readable object
// with a known "type" and the keys that type requires. A bad optional value only leaves its
// field absent; the first of repeated keys counts.
std::optional<Signal> signal_from_wire(std::string_view text);

}  // namespace tessel
