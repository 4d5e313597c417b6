// CTCP framing: "\x01COMMAND args\x01" inside PRIVMSG and NOTICE text.
#pragma once

#include <optional>
#include <string_view>

namespace tessel {

struct Ctcp {
    std::string_view command;
    std::string_view args;
    bool operator==(const Ctcp&) const = default;
};

// Both parts view into `text`.
std::optional<Ctcp> parse_ctcp(std::string_view text);

}  // namespace tessel
