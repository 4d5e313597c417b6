#include "tessel_client/engine/open_batch.hpp"

#include <algorithm>

#include "tessel_client/engine/ascii.hpp"

namespace tessel {

namespace {

bool joins(const IrcMessage& last, const IrcMessage& next) {
    if (!ascii_iequal(last.command, next.command)) return false;
    if (last.params.empty() && next.params.empty()) return true;
    return !last.params.empty() && !next.params.empty() && last.params[0] == next.params[0];
}

bool has_concat_tag(const IrcMessage& m) {
    return std::any_of(m.tags.begin(), m.tags.end(),
                       [](const Tag& t) { return t.key == "draft/multiline-concat"; });
}

}  // namespace

std::vector<IrcMessage> join_multiline(std::vector<IrcMessage> held) {
    std::vector<IrcMessage> out;
    out.reserve(held.size());
    for (IrcMessage& m : held) {
        bool candidate = ascii_iequal(m.command, "PRIVMSG") || ascii_iequal(m.command, "NOTICE");
        if (candidate && !out.empty() && joins(out.back(), m)) {
            IrcMessage& last = out.back();
            if (last.params.size() >= 2) {
                if (!has_concat_tag(m)) last.params[1].push_back('\n');
                if (m.params.size() >= 2) last.params[1] += m.params[1];
            }
            continue;
        }
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace tessel
