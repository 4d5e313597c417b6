// Storage for the nodes of one model's name maps (channels, members, people, ...), apart from
// the general heap.
//
// Stored messages take most of what a connection allocates, and they come in a steady
// stream. Tree nodes allocated among them end up a few messages apart, each on its own
// cache line and page, so every step of a map walk misses. Kept together in slabs of their
// own, the nodes of a few thousand members and people stay within a few hundred pages.
//
// A pool belongs to one model and is used from the thread driving it, so it takes no lock;
// the maps that draw on it share it through their allocators, and it goes with the last of them.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

namespace tessel {

class NodePool {
public:
    static constexpr std::size_t kMaxBytes = 1024;  // larger blocks come from the general heap
    // Blocks come in multiples of a word and are aligned to one: the nodes are made of
    // pointers and strings, and the member and people maps hold one node per nick.
    static constexpr std::size_t kGrain = 8;

    NodePool();
    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;
    ~NodePool();

    // A freed block serves the next block of its size; slabs stay while any block is in use,
    // and once every block is back all but the first are given back.
    void* allocate(std::size_t bytes);
    void deallocate(void* block, std::size_t bytes) noexcept;

    std::size_t live_blocks() const { return live_; }
    std::size_t slab_bytes() const;
    // Pools not yet deleted, in the whole process (the one count the pools share). With no
    // model or map left it is 0: a pool that outlives them is memory nothing gives back. The
    // tests check this rather than trust a leak checker, whose scan can take stale node bytes
    // in one leaked slab for a pointer keeping the next pool alive.
    static std::size_t live_pools() noexcept;

    // Shared ownership for the allocators, counted without atomics: one model, one thread.
    void retain() noexcept { ++users_; }
    void release() noexcept;  // the last one out deletes the pool

    // The sanitizer builds hand every block to the general heap, so that a use after free of a
    // node is still caught.
#if defined(__SANITIZE_ADDRESS__)
    static constexpr bool kEnabled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    static constexpr bool kEnabled = false;
#else
    static constexpr bool kEnabled = true;
#endif
#else
    static constexpr bool kEnabled = true;
#endif

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    std::array<FreeBlock*, kMaxBytes / kGrain> free_{};  // by size class
    char* cursor_ = nullptr;                             // unused space of the newest slab
    char* end_ = nullptr;
    std::vector<std::pair<void*, std::size_t>> slabs_;  // every slab and its size
    std::size_t live_ = 0;                               // blocks handed out and not yet freed
    std::size_t users_ = 0;

    void start_over() noexcept;
};

// An allocator drawing blocks up to NodePool::kMaxBytes (nodes, short lists) from a model's
// pool, larger ones from the general heap. A default-constructed one has no pool and uses the
// general heap for everything. A container copied from a pooled one is not pooled: the copy
// may outlive the model and be used from another thread.
template <class T>
class NodeAllocator {
public:
    using value_type = T;
    using propagate_on_container_copy_assignment = std::false_type;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using is_always_equal = std::false_type;

    NodeAllocator() noexcept = default;
    explicit NodeAllocator(NodePool* pool) noexcept : pool_(pool) { hold(); }
    NodeAllocator(const NodeAllocator& other) noexcept : pool_(other.pool_) { hold(); }
    template <class U>
    NodeAllocator(const NodeAllocator<U>& other) noexcept : pool_(other.pool()) {
        hold();
    }
    NodeAllocator& operator=(const NodeAllocator& other) noexcept {
        if (other.pool_ != nullptr) other.pool_->retain();
        drop();
        pool_ = other.pool_;
        return *this;
    }
    ~NodeAllocator() { drop(); }

    // A fresh pool for a new model.
    static NodeAllocator with_new_pool() { return NodeAllocator(NodePool::kEnabled ? new NodePool : nullptr); }

    NodeAllocator select_on_container_copy_construction() const noexcept { return NodeAllocator(); }

    T* allocate(std::size_t n) {
        if (pooled(n)) return static_cast<T*>(pool_->allocate(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* block, std::size_t n) noexcept {
        if (pooled(n))
            pool_->deallocate(block, n * sizeof(T));
        else
            std::allocator<T>().deallocate(block, n);
    }

    NodePool* pool() const noexcept { return pool_; }
    template <class U>
    bool operator==(const NodeAllocator<U>& other) const noexcept {
        return pool_ == other.pool();
    }

private:
    NodePool* pool_ = nullptr;

    bool pooled(std::size_t n) const {
        return pool_ != nullptr && alignof(T) <= NodePool::kGrain && n <= NodePool::kMaxBytes / sizeof(T);
    }
    void hold() noexcept {
        if (pool_ != nullptr) pool_->retain();
    }
    void drop() noexcept {
        if (pool_ != nullptr) pool_->release();
    }
};

}  // namespace tessel
