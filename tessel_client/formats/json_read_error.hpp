// The error of a failed read of host JSON: its message and where in the text it arose.
#pragma once

#include <cstdint>
#include <string>

namespace tessel {

struct JsonReadError {
    std::string message;
    std::uint64_t line = 0;    // 0: the error carries no position
    std::uint64_t column = 0;  // bytes from the start of the line

    // The message, followed by " at line L column C" when the error has a position.
    std::string shown() const;
    bool operator==(const JsonReadError&) const = default;
};

}  // namespace tessel
