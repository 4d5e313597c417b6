#include "tessel_client/model/message_map.hpp"

#include <algorithm>

namespace tessel {

MessageMap::MessageMap(const MessageMap& other) {
    chunks_.reserve(other.chunks_.size());
    try {
        for (const Chunk& from : other.chunks_) {
            Chunk& to = chunks_.emplace_back();
            to.slots.reserve(kChunk);
            for (std::size_t i = 0; i < from.size(); ++i) {
                const Slot& slot = from.at(i);
                to.slots.push_back(Slot{slot.key, nullptr});
                to.slots.back().entry = new value_type(*slot.entry);
                ++size_;
            }
        }
    } catch (...) {
        clear();
        throw;
    }
}

MessageMap::MessageMap(MessageMap&& other) noexcept
    : chunks_(std::move(other.chunks_)), size_(std::exchange(other.size_, 0)) {
    other.chunks_.clear();
}

MessageMap& MessageMap::operator=(const MessageMap& other) {
    if (this != &other) {
        MessageMap copy(other);
        *this = std::move(copy);
    }
    return *this;
}

MessageMap& MessageMap::operator=(MessageMap&& other) noexcept {
    if (this != &other) {
        clear();
        chunks_ = std::move(other.chunks_);
        size_ = std::exchange(other.size_, 0);
        other.chunks_.clear();
    }
    return *this;
}

MessageMap::~MessageMap() { clear(); }

void MessageMap::clear() {
    for (Chunk& chunk : chunks_)
        for (std::size_t i = 0; i < chunk.size(); ++i) delete chunk.at(i).entry;
    chunks_.clear();
    size_ = 0;
}

std::pair<std::size_t, std::size_t> MessageMap::locate(const MessageKey& key) const {
    // The first run whose last key is not less than `key`, then the place inside it.
    auto chunk = std::partition_point(chunks_.begin(), chunks_.end(),
                                      [&](const Chunk& c) { return c.last_key() < key; });
    if (chunk == chunks_.end()) return {chunks_.size(), 0};
    auto first = chunk->slots.begin() + static_cast<std::ptrdiff_t>(chunk->head);
    auto slot = std::partition_point(first, chunk->slots.end(), [&](const Slot& s) { return s.key < key; });
    return {static_cast<std::size_t>(chunk - chunks_.begin()), static_cast<std::size_t>(slot - first)};
}

MessageMap::iterator MessageMap::lower_bound(const MessageKey& key) {
    const auto [chunk, slot] = locate(key);
    return iterator(this, chunk, slot);
}

MessageMap::const_iterator MessageMap::lower_bound(const MessageKey& key) const {
    const auto [chunk, slot] = locate(key);
    return const_iterator(this, chunk, slot);
}

MessageMap::iterator MessageMap::find(const MessageKey& key) {
    const auto [chunk, slot] = locate(key);
    if (chunk == chunks_.size() || !(chunks_[chunk].at(slot).key == key)) return end();
    return iterator(this, chunk, slot);
}

MessageMap::const_iterator MessageMap::find(const MessageKey& key) const {
    const auto [chunk, slot] = locate(key);
    if (chunk == chunks_.size() || !(chunks_[chunk].at(slot).key == key)) return end();
    return const_iterator(this, chunk, slot);
}

std::pair<MessageMap::iterator, bool> MessageMap::emplace(const MessageKey& key, LogMessage&& message) {
    if (!chunks_.empty() && !(chunks_.back().last_key() < key)) {  // refuse a taken key before building
        const auto [chunk, slot] = locate(key);
        if (chunks_[chunk].at(slot).key == key) return {iterator(this, chunk, slot), false};
    }
    auto entry = std::make_unique<value_type>(key, std::move(message));
    return emplace_entry(entry);
}

std::pair<MessageMap::iterator, bool> MessageMap::emplace_entry(std::unique_ptr<value_type>& entry) {
    const MessageKey& key = entry->first;
    // The usual case first: a key after every stored one goes to the end of the last run.
    if (chunks_.empty() || chunks_.back().last_key() < key) return insert_new(chunks_.size(), 0, entry);
    const auto [chunk, slot] = locate(key);
    if (chunks_[chunk].at(slot).key == key) return {iterator(this, chunk, slot), false};
    return insert_new(chunk, slot, entry);
}

std::pair<MessageMap::iterator, bool> MessageMap::insert_new(std::size_t chunk, std::size_t slot,
                                                             std::unique_ptr<value_type>& entry) {
    const MessageKey key = entry->first;
    if (chunk == chunks_.size()) {  // after everything: the end of the last run, or a new run
        if (chunks_.empty() || chunks_.back().size() == kChunk) {
            Chunk fresh;
            fresh.slots.reserve(kChunk);
            chunks_.push_back(std::move(fresh));
            slot = 0;
        } else {
            slot = chunks_.back().size();
        }
        chunk = chunks_.size() - 1;
    }
    Chunk* target = &chunks_[chunk];
    if (target->slots.size() == kChunk && target->head > 0) {  // room only at the front: close the gap
        target->slots.erase(target->slots.begin(), target->slots.begin() + static_cast<std::ptrdiff_t>(target->head));
        target->head = 0;
    }
    if (target->slots.size() == kChunk) {
        // A full run splits in two halves; the new key goes to the half it belongs in.
        Chunk upper;
        upper.slots.reserve(kChunk);
        upper.slots.assign(target->slots.begin() + kChunk / 2, target->slots.end());
        chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(chunk) + 1, std::move(upper));
        target = &chunks_[chunk];
        target->slots.resize(kChunk / 2);
        if (slot > kChunk / 2) {
            ++chunk;
            slot -= kChunk / 2;
            target = &chunks_[chunk];
        }
    }
    target->slots.insert(target->slots.begin() + static_cast<std::ptrdiff_t>(target->head + slot),
                         Slot{key, entry.get()});
    entry.release();
    ++size_;
    return {iterator(this, chunk, slot), true};
}

MessageMap::iterator MessageMap::erase(iterator pos) {
    const std::size_t chunk = pos.chunk_;
    const std::size_t slot = pos.slot_;
    Chunk& c = chunks_[chunk];
    delete c.at(slot).entry;
    --size_;
    if (slot == 0) {
        ++c.head;  // the usual removal, the oldest message: advance the front
    } else {
        c.slots.erase(c.slots.begin() + static_cast<std::ptrdiff_t>(c.head + slot));
    }
    if (c.size() == 0) {
        chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(chunk));
        return iterator(this, chunk, 0);
    }
    if (slot == c.size()) return iterator(this, chunk + 1, 0);
    return iterator(this, chunk, slot);
}

bool operator==(const MessageMap& a, const MessageMap& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace tessel
