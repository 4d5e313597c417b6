#include "tessel_client/model/model.hpp"

#include <algorithm>
#include <string>
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
    index_.clear_memberships();
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
    index_.clear_memberships();
    for (const auto& [channel_key, channel] : channels) {
        for (const auto& [nick_key, member] : channel.members) {
            index_add(nick_key, channel_key);
            ++index_.memberships;
        }
    }
    index_.people = people.size();
    index_.whois = whois.size();
    index_.candidates.clear();
    index_.full = true;
    index_checked_ = update_depth_ > 0;
}

std::uint32_t MembershipIndex::slot_for(std::string_view channel_key) {
    if (auto it = slot_of.find(channel_key); it != slot_of.end()) return it->second;
    std::uint32_t slot;
    if (!free_slots.empty()) {
        slot = free_slots.back();
        free_slots.pop_back();
        slot_keys[slot] = std::string(channel_key);
    } else {
        slot = static_cast<std::uint32_t>(slot_keys.size());
        slot_keys.emplace_back(channel_key);
        slot_uses.push_back(0);
    }
    slot_of.emplace(std::string(channel_key), slot);
    return slot;
}

void MembershipIndex::release(std::uint32_t slot) {
    if (--slot_uses[slot] != 0) return;
    if (auto it = slot_of.find(slot_keys[slot]); it != slot_of.end()) slot_of.erase(it);
    slot_keys[slot] = std::string();
    free_slots.push_back(slot);
}

void MembershipIndex::clear_memberships() {
    channels_of.clear();
    slot_keys.clear();
    slot_uses.clear();
    free_slots.clear();
    slot_of.clear();
    memberships = 0;
}

namespace {

// Where the channel key stands in the nick's slots, which are in key order.
std::size_t slot_position(const MembershipIndex& index, const SlotList& slots, std::string_view channel_key) {
    std::size_t low = 0;
    std::size_t high = slots.size();
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if (NameLess::compare(index.slot_keys[slots[mid]], channel_key) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

}  // namespace

void Model::index_add(std::string_view nick_key, std::string_view channel_key) {
    auto found = index_.channels_of.find(nick_key);
    if (found == index_.channels_of.end()) found = index_.channels_of.try_emplace(std::string(nick_key)).first;
    SlotList& slots = found->second;
    const std::size_t at = slot_position(index_, slots, channel_key);
    if (at < slots.size() && index_.slot_keys[slots[at]] == channel_key) return;
    const std::uint32_t slot = index_.slot_for(channel_key);
    slots.insert(at, slot);
    ++index_.slot_uses[slot];
}

void Model::index_remove(std::string_view nick_key, std::string_view channel_key) {
    auto it = index_.channels_of.find(nick_key);
    if (it == index_.channels_of.end()) return;
    SlotList& slots = it->second;
    const std::size_t at = slot_position(index_, slots, channel_key);
    if (at < slots.size() && index_.slot_keys[slots[at]] == channel_key) {
        index_.release(slots[at]);
        slots.erase(at);
    }
    if (slots.empty()) index_.channels_of.erase(it);
}

MembershipIndex::Keys Model::channels_of(std::string_view nick_key) {
    static const SlotList none;
    if (!index_in_sync()) rebuild_index();
    auto it = index_.channels_of.find(nick_key);
    return MembershipIndex::Keys(index_.slot_keys, it == index_.channels_of.end() ? none : it->second);
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
