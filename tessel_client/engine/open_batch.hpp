// A server batch that is open: its members are held until the closing BATCH line.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tessel_client/protocol/message.hpp"

namespace tessel {

struct OpenBatch {
    std::string batch_type;
    std::vector<std::string> batch_params;
    std::vector<IrcMessage> held;
    std::optional<std::string> parent;
    std::set<std::string, std::less<>> seen_msgids;
    bool overflowed = false;

    bool operator==(const OpenBatch&) const = default;
};

// Joins the consecutive PRIVMSG (or NOTICE) lines to one target of a draft/multiline batch.
std::vector<IrcMessage> join_multiline(std::vector<IrcMessage> held);

}  // namespace tessel
