// SASL progress of one connection and the pieces of the exchange that need no engine state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tessel_client/engine/config.hpp"
#include "tessel_client/engine/event.hpp"

namespace tessel {

enum class SaslState : std::uint8_t {
    Idle = 0,
    MechanismSent = 1,
    PayloadSent = 2,
    ScramFirstSent = 3,
    ScramFinalSent = 4,
    Finished = 5,
};

// "904".."907" to their reasons; anything else gives nothing.
std::optional<SaslFailure> sasl_failure_from_numeric(std::string_view word);

// NUL username NUL password for Plain credentials; empty for the other kinds.
std::string plain_payload(const Credentials& credentials);

// The AUTHENTICATE argument naming the mechanism of these credentials.
std::string_view sasl_mechanism_name(const Credentials& credentials);

}  // namespace tessel
