#include "tessel_client/model/unique_list.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

namespace tessel {

UniqueList::UniqueList(std::initializer_list<std::string> items) {
    for (const std::string& item : items) insert(item);
}

UniqueList::UniqueList(const UniqueList& other) : items_(other.items_) { reindex(); }

UniqueList& UniqueList::operator=(const UniqueList& other) {
    if (this != &other) {
        items_ = other.items_;
        reindex();
    }
    return *this;
}

UniqueList::const_iterator UniqueList::find(std::string_view item) const {
    if (items_.size() <= kLinear) return std::find(items_.begin(), items_.end(), item);
    auto at = index_.find(item);
    return at == index_.end() ? items_.end() : *at;
}

bool UniqueList::insert(std::string item) {
    if (find(item) != items_.end()) return false;
    items_.push_back(std::move(item));
    if (items_.size() == kLinear + 1)
        reindex();
    else if (items_.size() > kLinear + 1)
        index_.insert(std::prev(items_.end()));
    return true;
}

bool UniqueList::erase(std::string_view item) {
    const const_iterator at = find(item);
    if (at == items_.end()) return false;
    if (items_.size() > kLinear) index_.erase(at);
    items_.erase(at);
    if (items_.size() == kLinear) index_.clear();
    return true;
}

void UniqueList::clear() {
    index_.clear();
    items_.clear();
}

void UniqueList::reindex() {
    index_.clear();
    if (items_.size() <= kLinear) return;
    for (auto it = items_.begin(); it != items_.end(); ++it) index_.insert(it);
}

}  // namespace tessel
