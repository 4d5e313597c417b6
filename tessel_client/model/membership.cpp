#include "tessel_client/model/membership.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

#include "tessel_client/model/reducer.hpp"

namespace tessel {

std::vector<Change> reduce_kick(Model& model, const Isupport& isupport, const std::vector<std::string>& params) {
    if (params.size() < 2) return {};
    const CaseMapping cm = isupport.casemapping;
    const std::string key = irc_fold(cm, params[0]);
    std::vector<Change> out;
    if (irc_equal(cm, params[1], model.me.nick)) {
        model.erase_channel(key);
        out.push_back(Change{Change::ChannelParted{params[0]}});
        return out;
    }
    if (auto channel = model.channels.find(key); channel != model.channels.end())
        model.erase_member(channel->first, channel->second, irc_fold(cm, params[1]));
    model.prune_unknown_nicks();
    out.push_back(Change{Change::ChannelMembersChanged{params[0]}});
    return out;
}

std::vector<Change> reduce_nick(Model& model, const Isupport& isupport, const IrcMessage& message) {
    if (message.params.empty()) return {};
    const std::string old_nick(source_nick(message));
    const std::string& new_nick = message.params[0];
    model.rename_nick(isupport.casemapping, old_nick, new_nick);
    std::vector<Change> out;
    out.push_back(Change{Change::NickChanged{old_nick, new_nick}});
    return out;
}

std::vector<Change> reduce_quit(Model& model, const Isupport& isupport, const IrcMessage& message) {
    const std::vector<std::string> keys =
        model.remove_nick_from_channels(irc_fold(isupport.casemapping, source_nick(message)));
    model.prune_unknown_nicks();
    return quit_member_changes(model, keys);
}

std::vector<Change> quit_member_changes(const Model& model, const std::vector<std::string>& channel_keys) {
    std::vector<Change> out;
    out.reserve(channel_keys.size());
    for (const std::string& key : channel_keys) {
        auto channel = model.channels.find(key);
        if (channel != model.channels.end())
            out.push_back(Change{Change::ChannelMembersChanged{channel->second.name}});
    }
    return out;
}

std::vector<std::string> Model::remove_nick_from_channels(std::string_view key) {
    if (!index_in_sync()) rebuild_index();
    std::vector<std::string> held;
    auto entry = index_.channels_of.find(key);
    if (entry == index_.channels_of.end()) return held;
    for (const std::uint32_t slot : entry->second) {  // in key order
        const std::string& channel_key = index_.slot_keys[slot];
        auto channel = channels.find(channel_key);
        if (channel != channels.end()) {
            if (auto member = channel->second.members.find(key); member != channel->second.members.end()) {
                channel->second.members.erase(member);
                held.push_back(channel_key);
                --index_.memberships;
            }
        }
        index_.release(slot);
    }
    index_.channels_of.erase(entry);
    mark_candidate(key);
    return held;
}

void Model::rename_nick(CaseMapping mapping, std::string_view old_nick, std::string_view new_nick) {
    if (!index_in_sync()) rebuild_index();
    const std::string old_key = irc_fold(mapping, old_nick);
    const std::string new_key = irc_fold(mapping, new_nick);

    // Members: only the channels that hold the old key are visited. A change of case alone
    // leaves every member key as it is.
    auto entry = old_key == new_key ? index_.channels_of.end() : index_.channels_of.find(old_key);
    if (entry != index_.channels_of.end()) {
        SlotList held = std::move(entry->second);
        index_.channels_of.erase(entry);
        SlotList kept;   // held channels without that member (an index out of step)
        SlotList moved;  // channels the member moves to the new key in, in key order
        for (const std::uint32_t slot : held) {
            auto channel = channels.find(index_.slot_keys[slot]);
            auto* members = channel == channels.end() ? nullptr : &channel->second.members;
            auto old_member = members == nullptr ? NameMap<Member>::iterator() : members->find(old_key);
            if (members == nullptr || old_member == members->end()) {
                kept.insert(kept.size(), slot);
                continue;
            }
            Member member = take_entry(*members, old_member);
            // One walk finds a member already under the new key or the place for the moved one.
            if (auto at = members->lower_bound(new_key); at != members->end() && at->first == new_key) {
                // The new nick is a member already: it takes the prefixes, one membership ends.
                at->second.prefixes = std::move(member.prefixes);
                --index_.memberships;
                index_.release(slot);
            } else {
                members->emplace_hint(at, new_key, std::move(member));
                moved.insert(moved.size(), slot);
            }
        }
        if (!kept.empty()) index_.channels_of.emplace(old_key, std::move(kept));
        if (!moved.empty()) {
            SlotList& into = index_.channels_of[new_key];
            if (into.empty()) {
                into = std::move(moved);
            } else {
                // Both lists are in key order, and a channel in both holds two members under
                // the new key only in an index out of step: it is listed once.
                auto key_of = [this](std::uint32_t slot) -> const std::string& { return index_.slot_keys[slot]; };
                SlotList merged;
                std::size_t i = 0;
                std::size_t j = 0;
                while (i < into.size() || j < moved.size()) {
                    if (j == moved.size() || (i < into.size() && NameLess::compare(key_of(into[i]), key_of(moved[j])) < 0)) {
                        merged.insert(merged.size(), into[i++]);
                    } else if (i == into.size() || NameLess::compare(key_of(moved[j]), key_of(into[i])) < 0) {
                        merged.insert(merged.size(), moved[j++]);
                    } else {
                        merged.insert(merged.size(), into[i++]);
                        index_.release(moved[j++]);
                    }
                }
                into = std::move(merged);
            }
            index_.candidates.erase(new_key);  // a member is known until it leaves
        }
    }

    // A record under the new key gives way to the moved one; one walk finds either.
    if (auto held = conversations.find(old_key); held != conversations.end()) {
        Conversation conversation = take_entry(conversations, held);
        conversation.nick = std::string(new_nick);
        auto at = conversations.lower_bound(new_key);
        if (at != conversations.end() && at->first == new_key) at = conversations.erase(at);
        conversations.emplace_hint(at, new_key, std::move(conversation));
    }

    if (auto held = people.find(old_key); held != people.end()) {
        Person person = take_entry(people, held);
        person.nick = std::string(new_nick);
        auto at = people.lower_bound(new_key);
        if (at != people.end() && at->first == new_key) {
            at = people.erase(at);
            --index_.people;
        }
        people.emplace_hint(at, new_key, std::move(person));
        mark_candidate(new_key);
    }
    // Whatever the old key still holds (a WHOIS record) is known by nothing now.
    mark_candidate(old_key);

    if (irc_equal(mapping, old_nick, me.nick)) me.nick = std::string(new_nick);
}

void Model::prune_unknown_nicks() {
    if (!index_in_sync()) rebuild_index();
    // A record kept for a reason other than being known (the own nick's person, a WHOIS still
    // arriving) stays a candidate: that reason can end without any membership changing.
    auto examine = [this](const std::string& key, decltype(index_.candidates)& keep) {
        if (is_known(key)) return;
        if (auto person = people.find(key); person != people.end()) {
            if (person->second.nick == me.nick) {
                keep.insert(key);
            } else {
                people.erase(person);
                --index_.people;
            }
        }
        if (auto record = whois.find(key); record != whois.end()) {
            if (!record->second.complete) {
                keep.insert(key);
            } else {
                whois.erase(record);
                --index_.whois;
            }
        }
    };
    decltype(index_.candidates) keep;
    if (index_.full) {
        std::vector<std::string> keys;
        for (const auto& [key, person] : people) keys.push_back(key);
        for (const auto& [key, record] : whois) keys.push_back(key);
        for (const std::string& key : keys) examine(key, keep);
        index_.full = false;
    } else {
        for (const std::string& key : index_.candidates) examine(key, keep);
    }
    index_.candidates = std::move(keep);
}

}  // namespace tessel
