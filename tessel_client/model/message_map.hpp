// The ordered store behind a message log: stored messages by MessageKey, iterated oldest first.
//
// Messages nearly always arrive in key order and leave from the front, and a log holds
// thousands of them. A balanced tree pays for every append with a rebalancing walk over old,
// cold nodes. Here the keys sit in sorted runs ("chunks") of at most kChunk entries: an append
// writes one slot at the end of the last run, a removal at the front advances the first run,
// and an insert elsewhere (history arriving late) shifts at most one run, splitting it when full.
//
// The messages themselves are fixed-size records in the map's own record pool, and their texts
// lie in its own arena, so a full log that takes one message for each it gives up makes no heap
// call, and dropping the map frees slabs and blocks rather than every message. A message stays
// at its address until it is removed, so a reference to it stays valid as with a map; the views
// of its texts stay valid until the next message is stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tessel_client/model/log_message.hpp"
#include "tessel_client/model/record_pool.hpp"
#include "tessel_client/model/text_arena.hpp"

namespace tessel {

class MessageMap {
public:
    using key_type = MessageKey;
    using value_type = LogMessage;
    using size_type = std::size_t;

private:
    static constexpr std::size_t kChunk = 64;

    struct Slot {
        MessageKey key;
        LogMessage* entry;
    };
    // Slots [head, slots.size()) are live; the front is consumed by advancing head.
    struct Chunk {
        std::vector<Slot> slots;
        std::size_t head = 0;
        std::size_t size() const { return slots.size() - head; }
        const Slot& at(std::size_t i) const { return slots[head + i]; }
        const MessageKey& last_key() const { return slots.back().key; }
    };

    template <bool Const>
    class Iter {
    public:
        using iterator_category = std::bidirectional_iterator_tag;
        using value_type = LogMessage;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const LogMessage*, LogMessage*>;
        using reference = std::conditional_t<Const, const LogMessage&, LogMessage&>;

        Iter() = default;
        template <bool C = Const, class = std::enable_if_t<C>>
        Iter(const Iter<false>& other) : map_(other.map_), chunk_(other.chunk_), slot_(other.slot_) {}

        reference operator*() const { return *map_->chunks_[chunk_].at(slot_).entry; }
        pointer operator->() const { return map_->chunks_[chunk_].at(slot_).entry; }
        Iter& operator++() {
            if (++slot_ == map_->chunks_[chunk_].size()) {
                ++chunk_;
                slot_ = 0;
            }
            return *this;
        }
        Iter operator++(int) {
            Iter before = *this;
            ++*this;
            return before;
        }
        Iter& operator--() {
            if (slot_ == 0) {
                --chunk_;
                slot_ = map_->chunks_[chunk_].size();
            }
            --slot_;
            return *this;
        }
        Iter operator--(int) {
            Iter before = *this;
            --*this;
            return before;
        }
        friend bool operator==(const Iter& a, const Iter& b) { return a.chunk_ == b.chunk_ && a.slot_ == b.slot_; }

    private:
        friend class MessageMap;
        friend class Iter<!Const>;
        Iter(const MessageMap* map, std::size_t chunk, std::size_t slot) : map_(map), chunk_(chunk), slot_(slot) {}
        const MessageMap* map_ = nullptr;
        std::size_t chunk_ = 0;
        std::size_t slot_ = 0;
    };

public:
    using iterator = Iter<false>;
    using const_iterator = Iter<true>;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;

    MessageMap() = default;
    MessageMap(const MessageMap& other);
    MessageMap(MessageMap&& other) noexcept;
    MessageMap& operator=(const MessageMap& other);
    MessageMap& operator=(MessageMap&& other) noexcept;
    ~MessageMap() = default;

    iterator begin() { return iterator(this, 0, 0); }
    iterator end() { return iterator(this, chunks_.size(), 0); }
    const_iterator begin() const { return const_iterator(this, 0, 0); }
    const_iterator end() const { return const_iterator(this, chunks_.size(), 0); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }
    reverse_iterator rbegin() { return reverse_iterator(end()); }
    reverse_iterator rend() { return reverse_iterator(begin()); }
    const_reverse_iterator rbegin() const { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const { return const_reverse_iterator(begin()); }

    size_type size() const { return size_; }
    bool empty() const { return size_ == 0; }

    iterator find(const MessageKey& key);
    const_iterator find(const MessageKey& key) const;
    iterator lower_bound(const MessageKey& key);
    const_iterator lower_bound(const MessageKey& key) const;
    bool contains(const MessageKey& key) const { return find(key) != end(); }
    // The newest key, if any, without a walk.
    const MessageKey* last_key() const { return chunks_.empty() ? nullptr : &chunks_.back().last_key(); }

    // Stores the message (its texts copied in) under its key unless the key is taken; as
    // std::map::emplace. `id_hash` is kept with it for the owner's msgid index.
    std::pair<iterator, bool> emplace(const MessageView& message, std::uint64_t id_hash = 0);
    // The same for a plain message, with its reactions and link preview.
    std::pair<iterator, bool> emplace(const MessageDraft& message);
    // Removes the entry; returns the one after it.
    iterator erase(iterator pos);
    void clear();

    // Reactions and link preview of a stored message: null when it has none; made on demand;
    // dropped again once empty.
    const MessageExtras* extras(const LogMessage& message) const;
    MessageExtras& extras_for(LogMessage& message);
    void drop_extras_if_empty(LogMessage& message);

    // The low half of the hash the message was stored with.
    static std::uint32_t id_hash(const LogMessage& message) { return message.id_hash_; }

    // Heap bytes the map holds for its messages: record slabs, text blocks and run slots.
    std::size_t held_bytes() const;

    friend bool operator==(const MessageMap& a, const MessageMap& b);

private:
    std::vector<Chunk> chunks_;
    std::vector<Slot> spare_slots_;  // the slots of an emptied run, for the next new run
    std::size_t size_ = 0;
    RecordPool<LogMessage> records_;
    TextArena texts_;
    using ExtrasMap = std::unordered_map<const LogMessage*, MessageExtras>;
    std::unique_ptr<ExtrasMap> extras_;  // made with the first extras

    // The position of the first key not less than `key`, as (chunk, slot).
    std::pair<std::size_t, std::size_t> locate(const MessageKey& key) const;
    LogMessage* make_entry(const MessageView& message, std::uint64_t id_hash);
    void free_entry(LogMessage* entry) noexcept;
    std::pair<iterator, bool> insert_new(std::size_t chunk, std::size_t slot, LogMessage* entry);
    void compact_texts();
};

}  // namespace tessel
