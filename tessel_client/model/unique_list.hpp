// A list of strings, each at most once, in the order they were first added: the reactors of
// one emoji, the metadata keys subscribed to. A server or host can make one long, so adding,
// removing and looking up cost O(log n) instead of a walk of the list.
//
// Strategy: the strings live in a linked list, whose nodes never move, so an index can point
// at them. Most lists hold a handful of entries and are searched in place; past kLinear
// entries an ordered index of the nodes is kept as well, and dropped again once the list is
// that short again.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <list>
#include <set>
#include <string>
#include <string_view>

namespace tessel {

class UniqueList {
public:
    using value_type = std::string;
    using const_iterator = std::list<std::string>::const_iterator;
    using iterator = const_iterator;

    // Lists up to this long have no index.
    static constexpr std::size_t kLinear = 8;

    UniqueList() = default;
    // Later repeats of an item are dropped.
    UniqueList(std::initializer_list<std::string> items);
    UniqueList(const UniqueList& other);
    UniqueList(UniqueList&&) noexcept = default;  // list nodes move whole, so the index holds
    UniqueList& operator=(const UniqueList& other);
    UniqueList& operator=(UniqueList&&) noexcept = default;

    // Appends the item unless it is held already; true when appended.
    bool insert(std::string item);
    // Removes the item; true when it was held.
    bool erase(std::string_view item);
    bool contains(std::string_view item) const { return find(item) != items_.end(); }

    const_iterator begin() const { return items_.begin(); }
    const_iterator end() const { return items_.end(); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void clear();

    // Same items in the same order.
    friend bool operator==(const UniqueList& a, const UniqueList& b) { return a.items_ == b.items_; }

private:
    struct ByText {
        using is_transparent = void;
        bool operator()(const_iterator a, const_iterator b) const { return *a < *b; }
        bool operator()(const_iterator a, std::string_view b) const { return std::string_view(*a) < b; }
        bool operator()(std::string_view a, const_iterator b) const { return a < std::string_view(*b); }
    };

    std::list<std::string> items_;
    std::set<const_iterator, ByText> index_;  // every item while size() > kLinear, else empty

    const_iterator find(std::string_view item) const;
    void reindex();
};

}  // namespace tessel
