// An ordered map that takes no storage beyond one pointer while it is empty. For a field that
// is almost always empty in a record stored many times over (the reactions of a message):
// read and changed like the std::map it holds once something is put in.
#pragma once

#include <initializer_list>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>

namespace tessel {

template <class Map>
class LazyMap {
public:
    using key_type = typename Map::key_type;
    using mapped_type = typename Map::mapped_type;
    using value_type = typename Map::value_type;
    using iterator = typename Map::iterator;
    using const_iterator = typename Map::const_iterator;

    LazyMap() = default;
    LazyMap(Map map) { *this = std::move(map); }
    LazyMap(std::initializer_list<value_type> items) : LazyMap(Map(items)) {}
    LazyMap(const LazyMap& other) : map_(other.map_ ? std::make_unique<Map>(*other.map_) : nullptr) {}
    LazyMap(LazyMap&&) noexcept = default;
    LazyMap& operator=(const LazyMap& other) {
        if (this != &other) map_ = other.map_ ? std::make_unique<Map>(*other.map_) : nullptr;
        return *this;
    }
    LazyMap& operator=(LazyMap&&) noexcept = default;
    LazyMap& operator=(std::initializer_list<value_type> items) { return *this = Map(items); }
    LazyMap& operator=(Map map) {
        if (map.empty())
            map_.reset();
        else
            map_ = std::make_unique<Map>(std::move(map));
        return *this;
    }

    bool empty() const { return !map_ || map_->empty(); }
    std::size_t size() const { return map_ ? map_->size() : 0; }

    // Reading an empty map allocates nothing: its iterators come from one shared empty map
    // that is never changed.
    iterator begin() { return map_ ? map_->begin() : shared_empty().begin(); }
    iterator end() { return map_ ? map_->end() : shared_empty().end(); }
    const_iterator begin() const { return view().begin(); }
    const_iterator end() const { return view().end(); }

    template <class K>
    iterator find(const K& key) {
        return map_ ? map_->find(key) : end();
    }
    template <class K>
    const_iterator find(const K& key) const {
        return view().find(key);
    }
    template <class K>
    const mapped_type& at(const K& key) const {
        auto it = view().find(key);
        if (it == view().end()) throw std::out_of_range("LazyMap::at");
        return it->second;
    }
    mapped_type& operator[](const key_type& key) { return held()[key]; }
    mapped_type& operator[](key_type&& key) { return held()[std::move(key)]; }
    // Removes the entry; the storage goes once the map is empty again.
    void erase(iterator pos) {
        map_->erase(pos);
        if (map_->empty()) map_.reset();
    }

    friend bool operator==(const LazyMap& a, const LazyMap& b) { return a.view() == b.view(); }
    friend bool operator==(const LazyMap& a, const Map& b) { return a.view() == b; }

private:
    std::unique_ptr<Map> map_;

    static Map& shared_empty() {
        static Map empty;
        return empty;
    }
    const Map& view() const { return map_ ? *map_ : shared_empty(); }
    Map& held() {
        if (!map_) map_ = std::make_unique<Map>();
        return *map_;
    }
};

}  // namespace tessel
