// Storage for the nodes of the model's name maps (channels, members, people, ...), apart
// from the general heap.
//
// Stored messages take most of what a connection allocates, and they come in a steady
// stream. Tree nodes allocated among them end up a few messages apart, each on its own
// cache line and page, so every step of a map walk misses. Kept together in slabs of their
// own, the nodes of a few thousand members and people stay within a few hundred pages.
#pragma once

#include <cstddef>
#include <memory>

namespace tessel {

namespace node_pool {

inline constexpr std::size_t kMaxBytes = 1024;  // larger blocks come from the general heap

// Thread-safe. A freed block serves the next block of its size; slabs stay while any block
// is in use, and once every block is back all but the first are given back.
void* allocate(std::size_t bytes);
void deallocate(void* block, std::size_t bytes) noexcept;

// The sanitizer builds hand every block to the general heap, so that a use after free of a
// node is still caught.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kEnabled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kEnabled = false;
#else
inline constexpr bool kEnabled = true;
#endif
#else
inline constexpr bool kEnabled = true;
#endif

}  // namespace node_pool

// A stateless allocator: blocks up to kMaxBytes (nodes, short lists) come from the pool,
// larger ones from the general heap. All instances are equal, so containers move and swap
// as with std::allocator.
template <class T>
struct NodeAllocator {
    using value_type = T;

    NodeAllocator() noexcept = default;
    template <class U>
    NodeAllocator(const NodeAllocator<U>&) noexcept {}

    static constexpr bool pooled(std::size_t n) {
        return node_pool::kEnabled && alignof(T) <= 16 && n <= node_pool::kMaxBytes / sizeof(T);
    }
    T* allocate(std::size_t n) {
        if (pooled(n)) return static_cast<T*>(node_pool::allocate(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* block, std::size_t n) noexcept {
        if (pooled(n))
            node_pool::deallocate(block, n * sizeof(T));
        else
            std::allocator<T>().deallocate(block, n);
    }
    template <class U>
    bool operator==(const NodeAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace tessel
