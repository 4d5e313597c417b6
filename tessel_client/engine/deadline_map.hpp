// A map whose entries each carry a deadline, kept in deadline order as well, so that what is
// due and the earliest deadline are found without a walk of every entry: the engine's timers
// and its pending labelled requests, of which a server can make a great many.
//
// Strategy: the entries live in an ordered map by key; a second ordered set points at them in
// the order they fall due, by deadline and then by key, which is the order the engine fires
// them in. Entries are read through the map, and every change goes through the operations
// below so that the second order follows. The deadline is the value itself when the value is
// a number, else the value's `deadline` field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace tessel {

template <class Key, class Value>
class DeadlineMap {
    using Entries = std::map<Key, Value, std::less<>>;

public:
    using value_type = typename Entries::value_type;
    using const_iterator = typename Entries::const_iterator;
    using iterator = const_iterator;

    static std::uint64_t deadline_of(const Value& value) {
        if constexpr (std::is_same_v<Value, std::uint64_t>)
            return value;
        else
            return value.deadline;
    }

    DeadlineMap() = default;
    DeadlineMap(const DeadlineMap& other) : entries_(other.entries_) { reorder(); }
    // Map nodes move whole, so the order set still points at them.
    DeadlineMap(DeadlineMap&&) noexcept = default;
    DeadlineMap& operator=(const DeadlineMap& other) {
        if (this != &other) {
            entries_ = other.entries_;
            reorder();
        }
        return *this;
    }
    DeadlineMap& operator=(DeadlineMap&&) noexcept = default;

    // Reading, in key order.
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    template <class K>
    const_iterator find(const K& key) const { return entries_.find(key); }
    template <class K>
    const_iterator lower_bound(const K& key) const { return entries_.lower_bound(key); }
    template <class K>
    std::size_t count(const K& key) const { return entries_.count(key); }
    template <class K>
    bool contains(const K& key) const { return entries_.contains(key); }
    template <class K>
    const Value& at(const K& key) const {
        auto it = entries_.find(key);
        if (it == entries_.end()) throw std::out_of_range("DeadlineMap::at");
        return it->second;
    }

    // Stores the value under the key, replacing any held one.
    void insert_or_assign(Key key, Value value) {
        auto [at, fresh] = entries_.try_emplace(std::move(key), std::move(value));
        if (fresh) {
            order_.insert(order_.end(), at);
        } else {
            update(at, [&value](Value& held) { held = std::move(value); });
        }
    }
    // The same for a key not held yet, placed near `hint`; returns where it went.
    const_iterator emplace_hint(const_iterator hint, Key key, Value value) {
        auto at = entries_.emplace_hint(hint, std::move(key), std::move(value));
        order_.insert(order_.end(), at);
        return at;
    }
    // Lets `change` alter the value held at `at`, deadline included.
    template <class Change>
    void update(const_iterator at, Change&& change) {
        const auto it = entries_.erase(at, at);  // the same entry, writable
        // The keepalive timer is re-armed for every received line and is nearly always the
        // last to fall due: moved later, it stays last, and nothing needs searching.
        if (*order_.rbegin() == it) {
            const std::uint64_t was = deadline_of(it->second);
            change(it->second);
            if (deadline_of(it->second) >= was) return;
            auto node = order_.extract(std::prev(order_.end()));
            order_.insert(std::move(node));
            return;
        }
        auto node = order_.extract(it);
        change(it->second);
        order_.insert(order_.end(), std::move(node));
    }

    const_iterator erase(const_iterator at) {
        order_.erase(entries_.erase(at, at));
        return entries_.erase(at);
    }
    template <class K>
        requires(!std::is_convertible_v<const K&, const_iterator>)
    bool erase(const K& key) {
        auto at = entries_.find(key);
        if (at == entries_.end()) return false;
        erase(const_iterator(at));
        return true;
    }
    void clear() {
        order_.clear();
        entries_.clear();
    }

    // Takes out every entry whose deadline is not later than `now`, by deadline, equal
    // deadlines in key order.
    std::vector<std::pair<Key, Value>> take_due(std::uint64_t now) {
        std::vector<std::pair<Key, Value>> due;
        while (!order_.empty() && deadline_of((*order_.begin())->second) <= now) {
            const auto at = *order_.begin();
            order_.erase(order_.begin());
            auto node = entries_.extract(at);
            due.emplace_back(std::move(node.key()), std::move(node.mapped()));
        }
        return due;
    }
    // The earliest deadline; nothing when no entry is held.
    std::optional<std::uint64_t> earliest() const {
        if (order_.empty()) return std::nullopt;
        return deadline_of((*order_.begin())->second);
    }

    friend bool operator==(const DeadlineMap& a, const DeadlineMap& b) { return a.entries_ == b.entries_; }

private:
    using Entry = typename Entries::iterator;
    struct DueFirst {
        bool operator()(Entry a, Entry b) const {
            const std::uint64_t da = deadline_of(a->second);
            const std::uint64_t db = deadline_of(b->second);
            if (da != db) return da < db;
            return std::less<>{}(a->first, b->first);
        }
    };

    Entries entries_;
    std::set<Entry, DueFirst> order_;  // every entry, in the order they fall due

    void reorder() {
        order_.clear();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) order_.insert(it);
    }
};

}  // namespace tessel
