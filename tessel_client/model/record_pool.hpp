// Fixed-size records in slabs of their own, for a container that holds many of one kind.
//
// A freed record serves the next one, so a container that gives up one record for each it
// takes makes no heap call once it has reached its size. Slabs grow from a couple of records,
// so a container of one record stays small. The records need no destructor: dropping the
// pool frees its slabs without visiting them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSEL_RECORD_POOL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TESSEL_RECORD_POOL_ASAN 1
#endif
#if defined(TESSEL_RECORD_POOL_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace tessel {

template <class T>
class RecordPool {
    static_assert(std::is_trivially_destructible_v<T>);

public:
    static constexpr std::size_t kFirstSlab = 2;  // records
    static constexpr std::size_t kMaxSlab = 256;

    RecordPool() = default;
    RecordPool(const RecordPool&) = delete;
    RecordPool& operator=(const RecordPool&) = delete;
    RecordPool(RecordPool&& other) noexcept { *this = std::move(other); }
    RecordPool& operator=(RecordPool&& other) noexcept {
        if (this != &other) {
            clear();
            slabs_ = std::exchange(other.slabs_, {});
            free_ = std::exchange(other.free_, nullptr);
            cursor_ = std::exchange(other.cursor_, nullptr);
            end_ = std::exchange(other.end_, nullptr);
        }
        return *this;
    }
    ~RecordPool() { clear(); }

    // Storage for one record, to be constructed by the caller.
    void* allocate() {
        if (Slot* slot = free_) {
            unpoison(slot);
            free_ = slot->next;
            return slot;
        }
        if (cursor_ == end_) {
            const std::size_t count = slabs_.empty() ? kFirstSlab : std::min(kMaxSlab, slabs_.back().second * 2);
            slabs_.reserve(slabs_.size() + 1);  // before the slab: nothing leaks if this throws
            cursor_ = new Slot[count];
            end_ = cursor_ + count;
            slabs_.emplace_back(cursor_, count);
        }
        return cursor_++;
    }
    void deallocate(T* record) noexcept {
        auto* slot = reinterpret_cast<Slot*>(record);
        slot->next = free_;
        free_ = slot;
        poison(slot);
    }
    void clear() noexcept {
        for (auto [slab, count] : slabs_) {
            for (std::size_t i = 0; i < count; ++i) unpoison(slab + i);
            delete[] slab;
        }
        slabs_.clear();
        free_ = cursor_ = end_ = nullptr;
    }

    std::size_t held_bytes() const {
        std::size_t records = 0;
        for (const auto& slab : slabs_) records += slab.second;
        return records * sizeof(Slot);
    }

private:
    union Slot {
        Slot* next;
        alignas(T) unsigned char storage[sizeof(T)];
    };
    std::vector<std::pair<Slot*, std::size_t>> slabs_;
    Slot* free_ = nullptr;
    Slot* cursor_ = nullptr;  // unused records of the newest slab
    Slot* end_ = nullptr;

    // The sanitizer builds mark a freed record unreadable, so that a use after its removal is
    // caught as with the general heap.
    static void poison([[maybe_unused]] Slot* slot) noexcept {
#if defined(TESSEL_RECORD_POOL_ASAN)
        ASAN_POISON_MEMORY_REGION(slot, sizeof(Slot));
#endif
    }
    static void unpoison([[maybe_unused]] Slot* slot) noexcept {
#if defined(TESSEL_RECORD_POOL_ASAN)
        ASAN_UNPOISON_MEMORY_REGION(slot, sizeof(Slot));
#endif
    }
};

}  // namespace tessel
