#include "tessel_client/model/who.hpp"

#include <algorithm>

#include "tessel_client/model/words.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {

namespace {

bool is_prefix_symbol(const Isupport& isupport, char32_t c) {
    return std::find(isupport.prefix_symbols.begin(), isupport.prefix_symbols.end(), c) !=
           isupport.prefix_symbols.end();
}

}  // namespace

std::vector<Change> reduce_names_reply(Model& model, const Isupport& isupport, const std::vector<std::string>& params) {
    if (params.size() < 3) return {};
    const CaseMapping cm = isupport.casemapping;
    const std::string& name = params[2];
    auto channel = model.channels.find(irc_fold(cm, name));
    // With three parameters the last one is the channel itself, not a name list.
    const std::string_view names = params.size() > 3 ? std::string_view(params.back()) : std::string_view();
    for (std::string_view entry : split_white_space(names)) {
        const MemberPrefixes split = split_member_prefixes(isupport, entry);
        const std::string_view nick = split.nick.substr(0, split.nick.find('!'));
        if (nick.empty()) continue;
        if (channel == model.channels.end()) return {};
        std::string key = irc_fold(cm, nick);
        model.person_entry(key, nick).nick = std::string(nick);
        model.member_entry(channel->first, channel->second, key).prefixes = std::string(split.prefixes);
    }
    std::vector<Change> out;
    out.push_back(Change{Change::ChannelMembersChanged{name}});
    return out;
}

std::vector<Change> reduce_who_reply(Model& model, const Isupport& isupport, const std::vector<std::string>& params) {
    if (params.size() < 7) return {};
    WhoRow row;
    row.channel = params[1];
    row.username = params[2];
    row.host = params[3];
    row.nick = params[5];
    row.flags = params[6];
    const std::string& last = params.back();
    if (auto space = last.find(' '); space != std::string::npos) row.realname = last.substr(space + 1);
    return reduce_who_entry(model, isupport, row);
}

std::vector<Change> reduce_whox_reply(Model& model, const Isupport& isupport, const std::vector<std::string>& params) {
    if (params.size() < 2 || params[1] != "332" || params.size() < 8) return {};
    WhoRow row;
    row.channel = params[2];
    row.username = params[3];
    row.host = params[4];
    row.nick = params[5];
    row.flags = params[6];
    const std::string& account = params[7];
    row.account = (account == "*" || account == "0") ? std::optional<std::string>() : account;
    if (params.size() > 8) row.realname = params[8];
    return reduce_who_entry(model, isupport, row);
}

std::vector<Change> reduce_who_entry(Model& model, const Isupport& isupport, const WhoRow& row) {
    const CaseMapping cm = isupport.casemapping;
    std::string prefixes;
    std::size_t pos = 0;
    while (pos < row.flags.size()) {
        const std::size_t at = pos;
        auto c = utf8_next(row.flags, pos);
        if (!c) {
            ++pos;
            continue;
        }
        if (is_prefix_symbol(isupport, *c)) prefixes.append(row.flags, at, pos - at);
    }

    const std::string key = irc_fold(cm, row.nick);
    Person& person = model.person_entry(key, row.nick);
    person.nick = row.nick;
    person.username = row.username;
    person.host = row.host;
    person.operator_ = row.flags.find('*') != std::string::npos;
    person.bot = row.flags.find('B') != std::string::npos;
    if (row.realname) person.realname = row.realname;
    if (!row.flags.empty() && row.flags.front() == 'G') {
        if (!person.away) person.away = std::string();
    } else {
        person.away.reset();
    }
    if (row.account) person.account = *row.account;

    if (!isupport.is_channel(row.channel)) return {};
    auto channel = model.channels.find(irc_fold(cm, row.channel));
    if (channel == model.channels.end()) return {};
    model.member_entry(channel->first, channel->second, key).prefixes = std::move(prefixes);
    std::vector<Change> out;
    out.push_back(Change{Change::ChannelMembersChanged{row.channel}});
    return out;
}

}  // namespace tessel
