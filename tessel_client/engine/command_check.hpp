// Whether a command's line can carry each of its fields where the line puts it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tessel_client/engine/command.hpp"

namespace tessel {

// Why Engine::execute refused a command: the first field that would change the line's shape.
struct CommandRefusal {
    enum class Place : std::uint8_t {
        MiddleParameter,  // lands before the last parameter: empty, holds a space, CR, LF or NUL, or begins with ":"
        ListItem,         // one of the comma-joined nicks: empty, or holds a comma, space, CR, LF or NUL
    };
    std::string_view field;  // the field's name, as the JSON form and the typed methods call it
    std::string value;       // the field's value (for a list, the refused item)
    Place place = Place::MiddleParameter;

    bool operator==(const CommandRefusal&) const = default;
};

// Whether `written` reads back as one parameter when it stands before the last one: not empty,
// no leading ":", and no space, CR, LF or NUL.
bool fits_middle(std::string_view written);

// Nothing when the line written for `command` parses back into the command's own parameters
// and list items; otherwise the first field, in declared order, that would not.
std::optional<CommandRefusal> command_refusal(const Command& command);

}  // namespace tessel
