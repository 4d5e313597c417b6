// The host JSON form of a Command: a tagged union under "type", as an object or an array.
#pragma once

#include <string_view>

#include "tessel_client/engine/command.hpp"
#include "tessel_client/formats/json_reader.hpp"

namespace tessel {

// One whole text as a Command. Errors of the first pass (the JSON itself, the tag) carry
// their position; errors of the fields carry none.
JsonResult<Command> command_from_json(std::string_view text);

}  // namespace tessel
