// The host JSON forms of Config and Credentials.
#pragma once

#include <string_view>

#include "tessel_client/engine/config.hpp"
#include "tessel_client/formats/json_reader.hpp"

namespace tessel {

// One whole text as a Config (object or array form; absent fields take their defaults).
JsonResult<Config> config_from_json(std::string_view text);

// One Credentials value at the reader's place (tag key "mechanism"); its nesting counts
// against the reader's budget. Errors of the second pass carry no position.
bool credentials_from_json(JsonReader& reader, Credentials& out);
// The `sasl` argument: one whole text of credentials, only white space after it.
JsonResult<Credentials> credentials_from_json(std::string_view text);

}  // namespace tessel
