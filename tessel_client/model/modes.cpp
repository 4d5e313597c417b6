#include "tessel_client/model/modes.hpp"

#include <algorithm>

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

void apply_user_modes(OwnUser& me, std::string_view letters) {
    std::vector<char32_t> modes = decode(me.modes);
    for (const ModeChange& change : parse_mode_letters(letters)) {
        if (change.adding) {
            if (std::find(modes.begin(), modes.end(), change.mode) == modes.end()) modes.push_back(change.mode);
        } else {
            std::erase(modes, change.mode);
        }
    }
    me.modes = encode(modes);
}

}  // namespace

void add_prefix_symbol(std::string& prefixes, char32_t symbol, const std::vector<char32_t>& /*prefix_modes*/,
                       const std::vector<char32_t>& prefix_symbols) {
    std::vector<char32_t> chars = decode(prefixes);
    if (std::find(chars.begin(), chars.end(), symbol) != chars.end()) return;
    chars.push_back(symbol);
    auto rank = [&](char32_t c) {
        auto it = std::find(prefix_symbols.begin(), prefix_symbols.end(), c);
        return static_cast<std::size_t>(it - prefix_symbols.begin());  // unlisted: past every listed one
    };
    std::stable_sort(chars.begin(), chars.end(), [&](char32_t a, char32_t b) { return rank(a) < rank(b); });
    prefixes = encode(chars);
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
        auto letter = std::find(isupport.prefix_modes.begin(), isupport.prefix_modes.end(), change.mode);
        if (letter == isupport.prefix_modes.end()) continue;
        const auto index = static_cast<std::size_t>(letter - isupport.prefix_modes.begin());
        if (index >= isupport.prefix_symbols.size()) continue;
        const char32_t symbol = isupport.prefix_symbols[index];
        if (channel == model.channels.end()) continue;
        auto member = channel->second.members.find(irc_fold(isupport.casemapping, *change.param));
        if (member == channel->second.members.end()) continue;
        members_changed = true;  // reported even when the symbol was already there
        std::string prefixes = member->second.prefixes;
        if (change.adding) {
            add_prefix_symbol(prefixes, symbol, isupport.prefix_modes, isupport.prefix_symbols);
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
