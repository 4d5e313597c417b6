#include "tessel_client/model/model.hpp"

#include <algorithm>
#include <utility>

namespace tessel {

Model::Model() {
    const auto pool = NodeAllocator<char>::with_new_pool();
    channels = NameMap<Channel>(pool);
    conversations = NameMap<Conversation>(pool);
    people = NameMap<Person>(pool);
    whois = NameMap<WhoisRecord>(pool);
    index_.channels_of = decltype(index_.channels_of)(pool);
    index_.candidates = decltype(index_.candidates)(pool);
}

Model Model::make(std::string nick, std::uint64_t retention) {
    Model model;
    model.me.nick = std::move(nick);
    model.retention = retention < 1 ? 1 : retention;
    return model;
}

Person& Model::person_entry(std::string key, std::string_view nick) {
    // One walk down the tree finds the person or the place for a new one.
    auto it = people.lower_bound(key);
    if (it != people.end() && it->first == key) return it->second;
    ++index_.people;
    Person person;
    person.nick = std::string(nick);
    auto placed = people.emplace_hint(it, std::move(key), std::move(person));
    mark_candidate(placed->first);
    return placed->second;
}

Channel& Model::channel_entry(std::string key, std::string_view name) {
    auto it = channels.find(key);
    if (it != channels.end()) return it->second;
    Channel channel;
    channel.name = std::string(name);
    channel.members = NameMap<Member>(channels.get_allocator());
    channel.log = MessageLog(retention);
    return channels.emplace(std::move(key), std::move(channel)).first->second;
}

Conversation& Model::conversation_entry(std::string key, std::string_view nick) {
    auto it = conversations.find(key);
    if (it != conversations.end()) return it->second;
    Conversation conversation;
    conversation.nick = std::string(nick);
    conversation.log = MessageLog(retention);
    return conversations.emplace(std::move(key), std::move(conversation)).first->second;
}

Member& Model::member_entry(std::string_view channel_key, Channel& channel, std::string_view nick_key) {
    auto it = channel.members.lower_bound(nick_key);
    if (it != channel.members.end() && it->first == nick_key) return it->second;
    index_add(nick_key, channel_key);
    ++index_.memberships;
    if (!index_.candidates.empty()) {  // a member is known until it leaves
        if (auto known = index_.candidates.find(nick_key); known != index_.candidates.end()) index_.candidates.erase(known);
    }
    return channel.members.emplace_hint(it, std::string(nick_key), Member{})->second;
}

bool Model::erase_member(std::string_view channel_key, Channel& channel, std::string_view nick_key) {
    auto it = channel.members.find(nick_key);
    if (it == channel.members.end()) return false;
    channel.members.erase(it);
    index_remove(nick_key, channel_key);
    --index_.memberships;
    mark_candidate(nick_key);
    return true;
}

bool Model::erase_channel(std::string_view channel_key) {
    auto it = channels.find(channel_key);
    if (it == channels.end()) return false;
    for (const auto& [nick_key, member] : it->second.members) {
        index_remove(nick_key, channel_key);
        mark_candidate(nick_key);
    }
    index_.memberships -= it->second.members.size();
    channels.erase(it);
    return true;
}

void Model::clear_members() {
    for (auto& [key, channel] : channels) {
        for (const auto& [nick_key, member] : channel.members) mark_candidate(nick_key);
        channel.members.clear();
    }
    index_.channels_of.clear();
    index_.memberships = 0;
}

bool Model::operator==(const Model& other) const {
    return me == other.me && channels == other.channels && conversations == other.conversations &&
           people == other.people && whois == other.whois && retention == other.retention &&
           next_seq == other.next_seq;
}

// The counters follow every change made through the Model's operations, so a map changed
// behind its back leaves them wrong until the next rebuild; the index is trusted only while
// they agree with the maps (one rebuild and one full pruning otherwise).
bool Model::index_in_sync() const {
    if (index_checked_) return true;
    if (index_.people != people.size() || index_.whois != whois.size()) return false;
    std::size_t total = 0;
    for (const auto& [key, channel] : channels) total += channel.members.size();
    if (total != index_.memberships) return false;
    index_checked_ = update_depth_ > 0;
    return true;
}

void Model::rebuild_index() {
    index_.channels_of.clear();
    index_.memberships = 0;
    for (const auto& [channel_key, channel] : channels) {
        for (const auto& [nick_key, member] : channel.members) {
            // channels come in key order
            index_.channels_of.try_emplace(nick_key, index_.channels_of.get_allocator()).first->second.push_back(channel_key);
            ++index_.memberships;
        }
    }
    index_.people = people.size();
    index_.whois = whois.size();
    index_.candidates.clear();
    index_.full = true;
    index_checked_ = update_depth_ > 0;
}

void Model::index_add(std::string_view nick_key, std::string_view channel_key) {
    auto found = index_.channels_of.find(nick_key);
    if (found == index_.channels_of.end())
        found = index_.channels_of.try_emplace(std::string(nick_key), index_.channels_of.get_allocator()).first;
    auto& keys = found->second;
    auto pos = std::lower_bound(keys.begin(), keys.end(), channel_key);
    if (pos == keys.end() || *pos != channel_key) keys.insert(pos, std::string(channel_key));
}

void Model::index_remove(std::string_view nick_key, std::string_view channel_key) {
    auto it = index_.channels_of.find(nick_key);
    if (it == index_.channels_of.end()) return;
    auto& keys = it->second;
    auto pos = std::lower_bound(keys.begin(), keys.end(), channel_key);
    if (pos != keys.end() && *pos == channel_key) keys.erase(pos);
    if (keys.empty()) index_.channels_of.erase(it);
}

const MembershipIndex::KeyList& Model::channels_of(std::string_view nick_key) {
    static const MembershipIndex::KeyList none;
    if (!index_in_sync()) rebuild_index();
    auto it = index_.channels_of.find(nick_key);
    return it == index_.channels_of.end() ? none : it->second;
}

bool Model::is_known(std::string_view key) const {
    if (conversations.contains(key)) return true;
    return index_.channels_of.contains(key);
}

void Model::mark_candidate(std::string_view key) {
    if (index_.full) return;
    if (people.contains(key) || whois.contains(key)) {
        index_.candidates.emplace(key);
    } else if (auto it = index_.candidates.find(key); it != index_.candidates.end()) {
        index_.candidates.erase(it);
    }
}

std::size_t Model::prune_candidates() const { return index_.candidates.size(); }

}  // namespace tessel
