#include "tessel_client/model/modes.hpp"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "tessel_client/model/words.hpp"
#include "tessel_client/protocol/mode_changes.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {

namespace {

std::vector<char32_t> decode(std::string_view text) {
    std::vector<char32_t> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (auto c = utf8_next(text, pos)) {
            out.push_back(*c);
        } else {
            out.push_back(static_cast<unsigned char>(text[pos]));
            ++pos;
        }
    }
    return out;
}

std::string encode(const std::vector<char32_t>& chars) {
    std::string out;
    for (char32_t c : chars) utf8_append(c, out);
    return out;
}

// A server names as many user modes as it likes, so a line's changes are not each a walk of
// the modes held: the letters the line names are looked up by halving, a removal only marks
// where the letter's earlier places end, and the held letters are filtered once at the end.
void apply_user_modes(OwnUser& me, std::string_view letters) {
    struct Letter {
        char32_t mode = 0;
        bool held = false;
        std::size_t live_from = 0;  // places before this one were removed
        bool operator<(const Letter& other) const { return mode < other.mode; }
    };
    const std::vector<ModeChange> changes = parse_mode_letters(letters);
    std::vector<Letter> named;
    named.reserve(changes.size());
    for (const ModeChange& change : changes) named.push_back(Letter{change.mode});
    std::sort(named.begin(), named.end());
    named.erase(std::unique(named.begin(), named.end(), [](const Letter& a, const Letter& b) { return a.mode == b.mode; }),
                named.end());
    auto letter_of = [&named](char32_t c) -> Letter* {
        auto it = std::lower_bound(named.begin(), named.end(), Letter{c});
        return it != named.end() && it->mode == c ? &*it : nullptr;
    };

    std::vector<char32_t> modes = decode(me.modes);
    for (const char32_t c : modes)
        if (Letter* letter = letter_of(c)) letter->held = true;
    for (const ModeChange& change : changes) {
        Letter& letter = *letter_of(change.mode);
        if (change.adding) {
            if (!letter.held) modes.push_back(change.mode);
            letter.held = true;
        } else {
            letter.held = false;
            letter.live_from = modes.size();
        }
    }
    std::vector<char32_t> kept;
    kept.reserve(modes.size());
    for (std::size_t i = 0; i < modes.size(); ++i) {
        const Letter* letter = letter_of(modes[i]);
        if (!letter || i >= letter->live_from) kept.push_back(modes[i]);
    }
    me.modes = encode(kept);
}

// The first place of each character in a list (PREFIX's letters or symbols), or the list's
// length for one not listed. A server may list thousands, and a MODE line asks for each of its
// changes, so they are found by halving instead of a walk.
class FirstPlace {
public:
    explicit FirstPlace(const std::vector<char32_t>& list) : absent_(list.size()) {
        places_.reserve(list.size());
        for (std::size_t i = 0; i < list.size(); ++i) places_.emplace_back(list[i], i);
        std::stable_sort(places_.begin(), places_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    std::size_t operator()(char32_t c) const {
        auto it = std::lower_bound(places_.begin(), places_.end(), c, [](const auto& p, char32_t v) { return p.first < v; });
        return it != places_.end() && it->first == c ? it->second : absent_;
    }

private:
    std::vector<std::pair<char32_t, std::size_t>> places_;  // by character, then by place
    std::size_t absent_;
};

void add_ranked_symbol(std::string& prefixes, char32_t symbol, const FirstPlace& rank) {
    std::vector<char32_t> chars = decode(prefixes);
    if (std::find(chars.begin(), chars.end(), symbol) != chars.end()) return;
    chars.push_back(symbol);
    std::vector<std::pair<std::size_t, char32_t>> ranked;
    ranked.reserve(chars.size());
    for (const char32_t c : chars) ranked.emplace_back(rank(c), c);  // unlisted: past every listed one
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < chars.size(); ++i) chars[i] = ranked[i].second;
    prefixes = encode(chars);
}

}  // namespace

void add_prefix_symbol(std::string& prefixes, char32_t symbol, const std::vector<char32_t>& /*prefix_modes*/,
                       const std::vector<char32_t>& prefix_symbols) {
    add_ranked_symbol(prefixes, symbol, FirstPlace(prefix_symbols));
}

std::vector<Change> reduce_mode(Model& model, const Isupport& isupport, const std::vector<std::string>& params) {
    if (params.empty()) return {};
    const std::string& target = params[0];
    if (!isupport.is_channel(target)) {
        apply_user_modes(model.me, params.size() > 1 ? std::string_view(params[1]) : std::string_view());
        return {};
    }
    const std::string channel_key = irc_fold(isupport.casemapping, target);
    const std::vector<std::string> rest(params.begin() + 1, params.end());
    auto channel = model.channels.find(channel_key);
    bool members_changed = false;
    std::optional<FirstPlace> letter_place, symbol_rank;  // made at the first status change
    for (const ModeChange& change : parse_mode_changes(isupport, rest)) {
        if (!change.prefix_mode) {
            if (channel == model.channels.end()) continue;
            if (change.adding)
                channel->second.modes[change.mode] = change.param;
            else
                channel->second.modes.erase(change.mode);
            continue;
        }
        if (!change.param) continue;
        if (!letter_place) letter_place.emplace(isupport.prefix_modes);
        const std::size_t index = (*letter_place)(change.mode);
        if (index == isupport.prefix_modes.size() || index >= isupport.prefix_symbols.size()) continue;
        const char32_t symbol = isupport.prefix_symbols[index];
        if (channel == model.channels.end()) continue;
        auto member = channel->second.members.find(irc_fold(isupport.casemapping, *change.param));
        if (member == channel->second.members.end()) continue;
        members_changed = true;  // reported even when the symbol was already there
        std::string prefixes = member->second.prefixes;
        if (change.adding) {
            if (!symbol_rank) symbol_rank.emplace(isupport.prefix_symbols);
            add_ranked_symbol(prefixes, symbol, *symbol_rank);
        } else {
            std::vector<char32_t> chars = decode(prefixes);
            std::erase(chars, symbol);
            prefixes = encode(chars);
        }
        member->second.prefixes = prefixes;
    }
    std::vector<Change> out;
    out.push_back(Change{Change::ChannelModesChanged{target}});
    if (members_changed) out.push_back(Change{Change::ChannelMembersChanged{target}});
    return out;
}

bool Model::apply_named_modes(std::string_view channel_key, const std::vector<std::string_view>& items) {
    auto channel = channels.find(channel_key);
    if (channel == channels.end()) return false;
    auto& named = channel->second.named_modes;
    for (std::string_view item : items) {
        if (item.empty()) continue;
        const char sign = item.front();
        std::string_view rest = item.substr(1);
        const std::size_t eq = rest.find('=');
        if (sign == '-') {
            auto it = named.find(rest.substr(0, eq));
            if (it != named.end()) named.erase(it);
        } else if (sign == '+') {
            std::optional<std::string> value;
            if (eq != std::string_view::npos) value = std::string(rest.substr(eq + 1));
            named.insert_or_assign(std::string(rest.substr(0, eq)), std::move(value));
        }
    }
    return true;
}

std::vector<Change> reduce_prop_list(Model& model, const Isupport& isupport, const std::vector<std::string>& params) {
    if (params.size() < 2) return {};
    std::vector<std::string_view> items;
    for (std::size_t i = 2; i < params.size(); ++i)
        for (std::string_view piece : split_white_space(params[i])) items.push_back(piece);
    if (!model.apply_named_modes(irc_fold(isupport.casemapping, params[1]), items)) return {};
    std::vector<Change> out;
    out.push_back(Change{Change::ChannelModesChanged{params[1]}});
    return out;
}

}  // namespace tessel
