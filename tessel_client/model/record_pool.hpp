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
    static constexpr std::size_t kFirstSlab = 1;  // records
    static constexpr std::size_t kMaxSlab = 256;

    RecordPool() = default;
    RecordPool(const RecordPool&) = delete;
    RecordPool& operator=(const RecordPool&) = delete;
    RecordPool(RecordPool&& other) noexcept { *this = std::move(other); }
    RecordPool& operator=(RecordPool&& other) noexcept {
        if (this != &other) {
            clear();
            slabs_ = std::exchange(other.slabs_, nullptr);
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
            const std::size_t count = slabs_ == nullptr ? kFirstSlab : std::min(kMaxSlab, slabs_->count * 2);
            // One allocation: the slab's header, then its records.
            auto* slab = static_cast<Slab*>(::operator new(sizeof(Slab) + count * sizeof(Slot)));
            slab->next = slabs_;
            slab->count = count;
            slabs_ = slab;
            cursor_ = reinterpret_cast<Slot*>(slab + 1);
            end_ = cursor_ + count;
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
        while (Slab* slab = slabs_) {
            slabs_ = slab->next;
            auto* slots = reinterpret_cast<Slot*>(slab + 1);
            for (std::size_t i = 0; i < slab->count; ++i) unpoison(slots + i);
            ::operator delete(slab);
        }
        free_ = cursor_ = end_ = nullptr;
    }

    std::size_t held_bytes() const {
        std::size_t bytes = 0;
        for (const Slab* slab = slabs_; slab != nullptr; slab = slab->next) bytes += sizeof(Slab) + slab->count * sizeof(Slot);
        return bytes;
    }

private:
    union Slot {
        Slot* next;
        alignas(T) unsigned char storage[sizeof(T)];
    };
    struct alignas(alignof(Slot)) Slab {
        Slab* next;
        std::size_t count;
    };
    Slab* slabs_ = nullptr;  // newest first
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
