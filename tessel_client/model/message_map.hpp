// The ordered store behind a message log: MessageKey -> LogMessage, read like a std::map.
//
// Messages nearly always arrive in key order and leave from the front, and a log holds
// thousands of them. A balanced tree pays for every append with a rebalancing walk over old,
// cold nodes. Here the keys sit in sorted runs ("chunks") of at most kChunk entries: an append
// writes one slot at the end of the last run, a removal at the front advances the first run,
// and an insert elsewhere (history arriving late) shifts at most one run, splitting it when full.
// Every message lives in its own allocation, so a reference to it stays valid until it is
// removed, as with a map.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "tessel_client/model/log_message.hpp"

namespace tessel {

class MessageMap {
public:
    using key_type = MessageKey;
    using mapped_type = LogMessage;
    using value_type = std::pair<const MessageKey, LogMessage>;
    using size_type = std::size_t;

private:
    static constexpr std::size_t kChunk = 64;

    struct Slot {
        MessageKey key;
        value_type* entry;
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
        using value_type = MessageMap::value_type;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const value_type*, value_type*>;
        using reference = std::conditional_t<Const, const value_type&, value_type&>;

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
    ~MessageMap();

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

    // Stores the message under `key` unless the key is taken; as std::map::emplace.
    std::pair<iterator, bool> emplace(const MessageKey& key, LogMessage&& message);
    // The same for an entry built by the caller: taken over when stored, left as it is when
    // its key is taken.
    std::pair<iterator, bool> emplace_entry(std::unique_ptr<value_type>& entry);
    std::pair<iterator, bool> emplace(const MessageKey& key, const LogMessage& message) {
        return emplace(key, LogMessage(message));
    }
    // Removes the entry; returns the one after it.
    iterator erase(iterator pos);
    void clear();

    friend bool operator==(const MessageMap& a, const MessageMap& b);

private:
    std::vector<Chunk> chunks_;
    std::size_t size_ = 0;

    // The position of the first key not less than `key`, as (chunk, slot).
    std::pair<std::size_t, std::size_t> locate(const MessageKey& key) const;
    std::pair<iterator, bool> insert_new(std::size_t chunk, std::size_t slot, std::unique_ptr<value_type>& entry);
};

}  // namespace tessel
