#include "tessel_client/protocol/ctcp.hpp"

namespace tessel {

std::optional<Ctcp> parse_ctcp(std::string_view text) {
    if (text.empty() || text.front() != '\x01') return std::nullopt;
    std::string_view inner = text.substr(1);
    if (!inner.empty() && inner.back() == '\x01') inner.remove_suffix(1);  // the closing byte is optional
    const std::size_t space = inner.find(' ');
    if (space == std::string_view::npos) return Ctcp{inner, {}};
    return Ctcp{inner.substr(0, space), inner.substr(space + 1)};
}

}  // namespace tessel
