// The model of one connection: own user, channels, conversations, people and WHOIS results.
// Every map keyed by a nick or channel name uses the name folded with irc_fold under the
// connection's casemapping; the records keep names as the server wrote them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tessel_client/model/boxed.hpp"
#include "tessel_client/model/lazy_map.hpp"
#include "tessel_client/model/message_log.hpp"
#include "tessel_client/model/node_pool.hpp"
#include "tessel_client/model/short_text.hpp"
#include "tessel_client/model/slot_list.hpp"
#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

using TextMap = std::map<std::string, std::string, std::less<>>;

// Byte order of folded names, as std::less<> gives it, compared inline eight bytes at a
// time: the channel, member and people maps are searched for nearly every line, and names
// are short enough that a library call per step costs more than the comparison itself.
struct NameLess {
    using is_transparent = void;
    static int compare(std::string_view a, std::string_view b) noexcept {
        const std::size_t n = a.size() < b.size() ? a.size() : b.size();
        std::size_t i = 0;
        if constexpr (std::endian::native == std::endian::little) {
            for (; i + 8 <= n; i += 8) {
                std::uint64_t x;
                std::uint64_t y;
                std::memcpy(&x, a.data() + i, 8);
                std::memcpy(&y, b.data() + i, 8);
                if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
            }
        }
        for (; i < n; ++i) {
            const auto c = static_cast<unsigned char>(a[i]);
            const auto d = static_cast<unsigned char>(b[i]);
            if (c != d) return c < d ? -1 : 1;
        }
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    }
    bool operator()(std::string_view a, std::string_view b) const noexcept { return compare(a, b) < 0; }
};
using FoldedSet = std::set<std::string, std::less<>>;

// A map keyed by folded name, its nodes kept apart from the stored messages in the model's pool.
template <class V>
using NameMap = std::map<std::string, V, NameLess, NodeAllocator<std::pair<const std::string, V>>>;

// Erases the entry and returns its value, for a record that moves to another key. A pooled
// map's node is never extracted and inserted again: libstdc++ 12 does not destroy the
// allocator a node handle carries once its node is back in a map, and every allocator holds a
// share of its pool, so each such move would keep the pool alive after its model.
template <class V>
V take_entry(NameMap<V>& map, typename NameMap<V>::iterator at) {
    V value = std::move(at->second);
    map.erase(at);
    return value;
}

struct OwnUser {
    std::string nick;
    std::optional<std::string> account;
    std::string modes;  // user-mode letters, each once, in the order they were added
    TextMap metadata;
    std::optional<std::string> away;
    bool operator==(const OwnUser&) const = default;
};

struct Member {
    ShortText prefixes;  // status symbols such as "@" and "+"
    bool operator==(const Member&) const = default;
};

struct Channel {
    std::string name;
    std::optional<std::string> topic;
    std::optional<std::string> topic_by;
    std::map<char32_t, std::optional<std::string>> modes;  // non-membership modes by letter
    NameMap<Member> members;  // folded nick -> member
    MessageLog log;
    std::uint32_t unread = 0;
    std::uint32_t mentions = 0;
    TextMap metadata;
    std::optional<std::string> read_marker;
    FoldedSet typing;
    std::map<std::string, std::optional<std::string>, std::less<>> named_modes;
    bool operator==(const Channel&) const = default;
};

struct Conversation {
    std::string nick;
    MessageLog log;
    std::uint32_t unread = 0;
    std::optional<std::string> read_marker;
    FoldedSet typing;
    bool operator==(const Conversation&) const = default;
};

// A server can make a person of every nick it names, so a person keeps what is often unset
// out of line (one pointer each while absent) and its flags side by side at the end; the host
// form lists the fields in the order nick, account, away, bot, username, host, realname,
// operator, metadata.
struct Person {
    std::string nick;
    Boxed<std::string> account;
    Boxed<std::string> away;
    Boxed<std::string> username;
    Boxed<std::string> host;
    Boxed<std::string> realname;
    LazyMap<TextMap> metadata;
    bool bot = false;
    bool operator_ = false;  // "operator" is reserved in C++; the host form names it "operator"
    bool operator==(const Person&) const = default;
};

struct WhoisRecord {
    std::string nick;
    std::optional<std::string> username;
    std::optional<std::string> host;
    std::optional<std::string> realname;
    std::optional<std::string> server;
    std::optional<std::string> server_info;
    std::optional<std::string> operator_;  // the 313 text; host form "operator"
    std::optional<std::uint64_t> idle_secs;
    std::optional<std::uint64_t> signon_ms;
    std::vector<std::string> channels;
    std::optional<std::string> account;
    std::optional<std::string> actual_host;
    bool secure = false;
    bool complete = false;
    bool operator==(const WhoisRecord&) const = default;
};

// Which channels each nick is a member of, and which nicks may have become unknown since the
// last pruning, so that QUIT and pruning cost what they touch instead of every member.
// Kept by the Model's own operations; a member map changed behind its back is noticed by
// the size check and answered with a rebuild.
struct MembershipIndex {
    // Looked up by string_view, without building a string for every lookup.
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
    };
    // Every nick costs an entry here, so it lists its channels by slot number: each channel key
    // is held once, in slot_keys, for as long as any nick lists it.
    std::unordered_map<std::string, SlotList, KeyHash, std::equal_to<>, NodeAllocator<std::pair<const std::string, SlotList>>>
        channels_of;  // nick -> slots, in channel key order
    std::vector<std::string> slot_keys;    // slot -> channel key
    std::vector<std::uint32_t> slot_uses;  // slot -> nicks listing it; 0 for a free slot
    std::vector<std::uint32_t> free_slots;
    std::unordered_map<std::string, std::uint32_t, KeyHash, std::equal_to<>> slot_of;  // channel key -> slot
    std::unordered_set<std::string, KeyHash, std::equal_to<>, NodeAllocator<std::string>>
        candidates;  // keys to examine at the next pruning
    std::size_t memberships = 0;
    std::size_t people = 0;
    std::size_t whois = 0;
    bool full = false;  // examine every person and WHOIS record at the next pruning

    // The slot of the channel key, taken when no nick lists it yet; release gives up one use.
    std::uint32_t slot_for(std::string_view channel_key);
    void release(std::uint32_t slot);
    void clear_memberships();

    // The channel keys of a slot list, in their order.
    class Keys {
    public:
        class Iterator {
        public:
            using iterator_category = std::forward_iterator_tag;
            using value_type = std::string;
            using difference_type = std::ptrdiff_t;
            using pointer = const std::string*;
            using reference = const std::string&;
            Iterator() = default;
            Iterator(const std::vector<std::string>* keys, SlotList::Iterator at) : keys_(keys), at_(at) {}
            const std::string& operator*() const { return (*keys_)[*at_]; }
            Iterator& operator++() {
                ++at_;
                return *this;
            }
            Iterator operator++(int) {
                Iterator was = *this;
                ++at_;
                return was;
            }
            bool operator==(const Iterator& other) const { return at_ == other.at_; }

        private:
            const std::vector<std::string>* keys_ = nullptr;
            SlotList::Iterator at_;
        };
        Keys(const std::vector<std::string>& keys, const SlotList& slots) : keys_(&keys), slots_(&slots) {}
        Iterator begin() const { return Iterator(keys_, slots_->begin()); }
        Iterator end() const { return Iterator(keys_, slots_->end()); }
        std::size_t size() const { return slots_->size(); }
        bool empty() const { return slots_->empty(); }

    private:
        const std::vector<std::string>* keys_;
        const SlotList* slots_;
    };
};

struct Model {
    static constexpr std::size_t kMaxWhois = 64;

    OwnUser me;
    NameMap<Channel> channels;            // folded name -> channel
    NameMap<Conversation> conversations;  // folded nick -> conversation
    NameMap<Person> people;               // folded nick -> person
    NameMap<WhoisRecord> whois;           // folded nick, at most 64
    std::uint64_t retention = 1;
    std::uint64_t next_seq = 0;

    // An empty model with a node pool of its own for its maps.
    Model();

    // A fresh model: own nick set, everything else empty; retention at least 1.
    static Model make(std::string nick, std::uint64_t retention);

    // Get-or-create helpers: the key is already folded; an existing record is returned as it is.
    Person& person_entry(std::string key, std::string_view nick);
    Channel& channel_entry(std::string key, std::string_view name);
    Conversation& conversation_entry(std::string key, std::string_view nick);
    WhoisRecord& whois_entry(std::string key, std::string_view nick);

    // Member changes go through these (not through `members` directly) to keep the index right.
    // Returns the member under the folded nick, created with empty prefixes when absent.
    Member& member_entry(std::string_view channel_key, Channel& channel, std::string_view nick_key);
    // Removes the folded nick from the channel; true when it was a member.
    bool erase_member(std::string_view channel_key, Channel& channel, std::string_view nick_key);
    // Removes a channel with everything it holds; true when it was held.
    bool erase_channel(std::string_view channel_key);
    // Empties every channel's member list (on disconnect).
    void clear_members();

    // Keys of the channels that held the folded nick, in key order, after removing it from them.
    std::vector<std::string> remove_nick_from_channels(std::string_view key);
    void rename_nick(CaseMapping mapping, std::string_view old_nick, std::string_view new_nick);
    // Keys of the channels the folded nick is a member of, in key order; valid until the next
    // change of the model.
    MembershipIndex::Keys channels_of(std::string_view nick_key);
    // Drops people and WHOIS records the connection shares nothing with any more.
    void prune_unknown_nicks();
    // Keys waiting for the next pruning (at most one per person and WHOIS record).
    std::size_t prune_candidates() const;

    // Applies PROP / 961 items to the channel; false when the channel is not held.
    bool apply_named_modes(std::string_view channel_key, const std::vector<std::string_view>& items);
    bool set_typing_member(std::string_view target, std::string_view nick, bool active);
    bool rename_channel_entry(CaseMapping mapping, std::string_view old_name, std::string_view new_name);

    // Compares the seven fields above; the index is bookkeeping.
    bool operator==(const Model& other) const;

    // Marks a stretch of work in which nothing but the Model's own operations changes the
    // model: one reducer call, or the engine handling a chunk of received lines. The index is
    // then checked against the maps once for the whole stretch instead of at every step that
    // reads it (a check walks every channel). Scopes nest.
    class UpdateScope {
    public:
        explicit UpdateScope(Model& model) : model_(model) { ++model_.update_depth_; }
        ~UpdateScope() {
            // (A model assigned over inside the scope has brought its own count.)
            if (model_.update_depth_ > 0) --model_.update_depth_;
            if (model_.update_depth_ == 0) model_.index_checked_ = false;
        }
        UpdateScope(const UpdateScope&) = delete;
        UpdateScope& operator=(const UpdateScope&) = delete;

    private:
        Model& model_;
    };

private:
    MembershipIndex index_;
    int update_depth_ = 0;                // UpdateScopes open
    mutable bool index_checked_ = false;  // the index was found in sync in the open scope

    bool index_in_sync() const;
    void rebuild_index();
    void index_add(std::string_view nick_key, std::string_view channel_key);
    void index_remove(std::string_view nick_key, std::string_view channel_key);
    bool is_known(std::string_view key) const;
    // Call after the records under the folded key, or its reasons to be known, changed: the
    // key is examined at the next pruning when it still holds a person or a WHOIS record, and
    // forgotten otherwise, so the candidates never outnumber those records.
    void mark_candidate(std::string_view key);
};

}  // namespace tessel
