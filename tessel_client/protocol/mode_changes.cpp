#include "tessel_client/protocol/mode_changes.hpp"

#include "tessel_client/protocol/utf8.hpp"

namespace tessel {

std::vector<ModeChange> parse_mode_changes(const Isupport& isupport, const std::vector<std::string>& params) {
    std::vector<ModeChange> changes;
    if (params.empty()) return changes;
    const std::string_view modes = params.front();
    changes.reserve(modes.size());
    std::size_t next_arg = 1;
    bool adding = true;
    for (std::size_t pos = 0; pos < modes.size();) {
        const char32_t c = utf8_next_lossy(modes, pos);
        if (c == U'+' || c == U'-') {
            adding = c == U'+';
            continue;
        }
        ModeChange change;
        change.mode = c;
        change.adding = adding;
        change.prefix_mode = isupport.is_prefix_mode(c);
        const bool takes_param = change.prefix_mode || utf8_contains(isupport.chanmodes_a, c) ||
                                 utf8_contains(isupport.chanmodes_b, c) ||
                                 (adding && utf8_contains(isupport.chanmodes_c, c));
        if (takes_param && next_arg < params.size()) change.param = params[next_arg++];
        changes.push_back(std::move(change));
    }
    return changes;
}

std::vector<ModeChange> parse_mode_letters(std::string_view letters) {
    std::vector<ModeChange> changes;
    changes.reserve(letters.size());
    bool adding = true;
    for (std::size_t pos = 0; pos < letters.size();) {
        const char32_t c = utf8_next_lossy(letters, pos);
        if (c == U'+' || c == U'-') {
            adding = c == U'+';
            continue;
        }
        ModeChange change;
        change.mode = c;
        change.adding = adding;
        changes.push_back(std::move(change));
    }
    return changes;
}

}  // namespace tessel
