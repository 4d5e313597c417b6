#include "tessel_client/formats/json_read_error.hpp"

namespace tessel {

std::string JsonReadError::shown() const {
    if (line == 0) return message;
    std::string out = message;
    out += " at line ";
    out += std::to_string(line);
    out += " column ";
    out += std::to_string(column);
    return out;
}

}  // namespace tessel
