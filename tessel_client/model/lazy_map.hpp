// A map that takes no storage until its first entry: one pointer in a record stored many times
// over whose map is nearly always empty. Reads as the map itself (an empty one while absent).
#pragma once

#include <initializer_list>
#include <memory>
#include <utility>

namespace tessel {

template <class Map>
class LazyMap {
public:
    using key_type = typename Map::key_type;
    using mapped_type = typename Map::mapped_type;
    using value_type = typename Map::value_type;
    using const_iterator = typename Map::const_iterator;
    using iterator = typename Map::iterator;

    LazyMap() = default;
    explicit LazyMap(Map map) { *this = std::move(map); }
    LazyMap(const LazyMap& other) : map_(other.map_ ? std::make_unique<Map>(*other.map_) : nullptr) {}
    LazyMap(LazyMap&&) noexcept = default;
    LazyMap& operator=(const LazyMap& other) {
        if (this != &other) map_ = other.map_ ? std::make_unique<Map>(*other.map_) : nullptr;
        return *this;
    }
    LazyMap& operator=(LazyMap&&) noexcept = default;
    LazyMap& operator=(Map map) {
        map_ = map.empty() ? nullptr : std::make_unique<Map>(std::move(map));
        return *this;
    }

    LazyMap& operator=(std::initializer_list<value_type> entries) { return *this = Map(entries); }

    const Map& get() const { return map_ ? *map_ : empty_map(); }
    operator const Map&() const { return get(); }

    bool empty() const { return !map_; }
    std::size_t size() const { return get().size(); }
    const_iterator begin() const { return get().begin(); }
    const_iterator end() const { return get().end(); }
    template <class K>
    const_iterator find(const K& key) const {
        return get().find(key);
    }
    template <class K>
    bool contains(const K& key) const {
        return get().contains(key);
    }
    template <class K>
    const mapped_type& at(const K& key) const {
        return get().at(key);
    }

    template <class K, class V>
    void insert_or_assign(K&& key, V&& value) {
        if (!map_) map_ = std::make_unique<Map>();
        map_->insert_or_assign(std::forward<K>(key), std::forward<V>(value));
    }
    // Removes the entry under the key, if any; the last one out takes the storage with it.
    template <class K>
    void erase_key(const K& key) {
        if (!map_) return;
        if (auto it = map_->find(key); it != map_->end()) map_->erase(it);
        if (map_->empty()) map_.reset();
    }
    void clear() { map_.reset(); }

    friend bool operator==(const LazyMap& a, const LazyMap& b) { return a.get() == b.get(); }
    friend bool operator==(const LazyMap& a, const Map& b) { return a.get() == b; }

private:
    std::unique_ptr<Map> map_;  // never holds an empty map

    static const Map& empty_map() {
        static const Map none;
        return none;
    }
};

}  // namespace tessel
