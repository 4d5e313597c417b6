#include "tessel_client/model/user_state.hpp"

#include <utility>

#include "tessel_client/model/reducer.hpp"

namespace tessel {

namespace {

// One channel_members_changed per channel holding the nick, naming the channel as stored.
// The membership index names those channels, so the other channels are not searched.
std::vector<Change> member_channel_changes(Model& model, std::string_view nick_key) {
    std::vector<Change> out;
    for (const std::string& channel_key : model.channels_of(nick_key)) {
        auto channel = model.channels.find(channel_key);
        if (channel != model.channels.end() && channel->second.members.contains(nick_key))
            out.push_back(Change{Change::ChannelMembersChanged{channel->second.name}});
    }
    return out;
}

// AWAY and ACCOUNT: set one field of the sender's person, refresh the own user from it.
template <typename Field>
std::vector<Change> update_sender(Model& model, const Isupport& isupport, const IrcMessage& message,
                                  std::optional<std::string> value, Field field) {
    const std::string_view nick = source_nick(message);
    const std::string key = irc_fold(isupport.casemapping, nick);
    Person& person = model.person_entry(key, nick);
    person.*field = std::move(value);
    if (irc_equal(isupport.casemapping, nick, model.me.nick)) {
        model.me.account = person.account.as_optional();
        model.me.away = person.away.as_optional();
    }
    return member_channel_changes(model, key);
}

}  // namespace

bool Model::set_typing_member(std::string_view target, std::string_view nick, bool active) {
    FoldedSet* set = nullptr;
    if (auto channel = channels.find(target); channel != channels.end()) {
        set = &channel->second.typing;
    } else if (auto conv = conversations.find(target); conv != conversations.end()) {
        set = &conv->second.typing;
    } else {
        return false;
    }
    if (active) return set->emplace(nick).second;
    auto it = set->find(nick);
    if (it == set->end()) return false;
    set->erase(it);
    return true;
}

std::vector<Change> reduce_away(Model& model, const Isupport& isupport, const IrcMessage& message) {
    std::optional<std::string> value;
    if (!message.params.empty()) value = message.params[0];
    return update_sender(model, isupport, message, std::move(value), &Person::away);
}

std::vector<Change> reduce_account(Model& model, const Isupport& isupport, const IrcMessage& message) {
    std::optional<std::string> value;
    if (!message.params.empty() && message.params[0] != "*") value = message.params[0];
    return update_sender(model, isupport, message, std::move(value), &Person::account);
}

void set_or_remove(const std::optional<std::string>& value, std::string_view key, TextMap& map) {
    if (value) {
        map.insert_or_assign(std::string(key), *value);
    } else if (auto it = map.find(key); it != map.end()) {
        map.erase(it);
    }
}

void set_or_remove(const std::optional<std::string>& value, std::string_view key, LazyMap<TextMap>& map) {
    if (value)
        map.insert_or_assign(std::string(key), *value);
    else
        map.erase_key(key);
}

std::vector<Change> reduce_metadata(Model& model, const Isupport& isupport, const IrcMessage& message,
                                    std::size_t target_index) {
    const auto& params = message.params;
    const std::size_t t = target_index;
    if (params.size() < t + 2) return {};
    const CaseMapping cm = isupport.casemapping;
    const std::string target = params[t] == "*" ? model.me.nick : params[t];
    const std::string& key = params[t + 1];
    std::optional<std::string> value;
    if (params.size() > t + 3 && message.command != "766") value = params[t + 3];

    if (isupport.is_channel(target)) {
        auto channel = model.channels.find(irc_fold(cm, target));
        if (channel == model.channels.end()) return {};
        set_or_remove(value, key, channel->second.metadata);
    } else {
        Person& person = model.person_entry(irc_fold(cm, target), target);
        set_or_remove(value, key, person.metadata);
        if (irc_equal(cm, target, model.me.nick)) set_or_remove(value, key, model.me.metadata);
    }
    std::vector<Change> out;
    out.push_back(Change{Change::MetadataChanged{target, key}});
    return out;
}

bool Model::rename_channel_entry(CaseMapping mapping, std::string_view old_name, std::string_view new_name) {
    if (!index_in_sync()) rebuild_index();
    const std::string old_key = irc_fold(mapping, old_name);
    const std::string new_key = irc_fold(mapping, new_name);
    auto held = channels.find(old_key);
    if (held == channels.end()) return false;
    Channel channel = take_entry(channels, held);
    channel.name = std::string(new_name);
    erase_channel(new_key);  // a channel held under the new name gives way
    for (const auto& [nick_key, member] : channel.members) {
        index_remove(nick_key, old_key);
        index_add(nick_key, new_key);
    }
    channels.emplace(new_key, std::move(channel));
    return true;
}

std::vector<Change> reduce_rename(Model& model, const Isupport& isupport, const std::vector<std::string>& params) {
    if (params.size() < 2) return {};
    if (!model.rename_channel_entry(isupport.casemapping, params[0], params[1])) return {};
    std::vector<Change> out;
    out.push_back(Change{Change::ChannelRenamed{params[0], params[1]}});
    return out;
}

}  // namespace tessel
