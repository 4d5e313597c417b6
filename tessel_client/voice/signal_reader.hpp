// Reading a Signal the host hands over: the JSON text of send_voice_signal here, and the
// buffered "signal" value of a send_voice_signal command with Signal::deserialize.
#pragma once

#include <string_view>

#include "tessel_client/formats/json_reader.hpp"
#include "tessel_client/voice/signal.hpp"

namespace tessel {

// One whole text as a Signal: the object form ("type" anywhere among the keys) or the array
// form (the tag, then one element per field). Envelope, syntax and trailing-text errors carry
// their position; errors in the variant's fields do not.
JsonResult<Signal> signal_from_json(std::string_view text);

}  // namespace tessel
