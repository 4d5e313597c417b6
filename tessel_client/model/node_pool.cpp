#include "tessel_client/model/node_pool.hpp"

#include <array>
#include <mutex>
#include <new>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#endif

namespace tessel::node_pool {
namespace {

constexpr std::size_t kGrain = 16;
constexpr std::size_t kClasses = kMaxBytes / kGrain;
constexpr std::size_t kSlabBytes = std::size_t{256} << 10;

struct FreeBlock {
    FreeBlock* next;
};

struct Pool {
    std::mutex lock;
    std::array<FreeBlock*, kClasses> free{};  // by size class
    char* cursor = nullptr;                   // unused space of the newest slab
    char* end = nullptr;
    std::vector<void*> slabs;  // every slab, so the memory stays reachable
    std::size_t live = 0;      // blocks handed out and not yet freed
};

void use_slab(Pool& p, void* slab) {
    p.cursor = static_cast<char*>(slab);
    p.end = p.cursor + kSlabBytes;
}

// With no block in use, the pool starts over from its first slab and gives the others back.
// Free lists reuse blocks in the reverse order of their freeing, which scatters a rebuilt
// map over every slab; after a model is dropped, the next one is laid out in order again,
// and a large model dropped leaves no memory behind.
void start_over(Pool& p) {
    p.free.fill(nullptr);
    for (std::size_t i = 1; i < p.slabs.size(); ++i) ::operator delete(p.slabs[i], std::align_val_t{kGrain});
    p.slabs.resize(1);
    use_slab(p, p.slabs.front());
}

Pool* make_pool() {
    auto* made = new Pool;
#if defined(__unix__) || defined(__APPLE__)
    // A fork while another thread holds the lock would leave it held in the child for good;
    // holding it across the fork leaves it free on both sides.
    static Pool* forked = nullptr;
    forked = made;
    pthread_atfork([] { forked->lock.lock(); }, [] { forked->lock.unlock(); }, [] { forked->lock.unlock(); });
#endif
    return made;
}

// Never destroyed: a model that outlives static destruction still frees into it.
Pool& pool() {
    static Pool* const instance = make_pool();
    return *instance;
}

std::size_t size_class(std::size_t bytes) { return (bytes + kGrain - 1) / kGrain - 1; }

}  // namespace

void* allocate(std::size_t bytes) {
    const std::size_t cls = size_class(bytes == 0 ? 1 : bytes);
    Pool& p = pool();
    std::lock_guard guard(p.lock);
    if (FreeBlock* block = p.free[cls]) {
        p.free[cls] = block->next;
        ++p.live;
        return block;
    }
    const std::size_t size = (cls + 1) * kGrain;
    if (static_cast<std::size_t>(p.end - p.cursor) < size) {
        if (p.slabs.size() == p.slabs.capacity()) p.slabs.reserve(p.slabs.size() * 2 + 1);  // before the slab: nothing leaks if this throws
        void* slab = ::operator new(kSlabBytes, std::align_val_t{kGrain});
        p.slabs.push_back(slab);
        use_slab(p, slab);
    }
    void* block = p.cursor;
    p.cursor += size;
    ++p.live;
    return block;
}

void deallocate(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    const std::size_t cls = size_class(bytes == 0 ? 1 : bytes);
    Pool& p = pool();
    std::lock_guard guard(p.lock);
    auto* free_block = static_cast<FreeBlock*>(block);
    free_block->next = p.free[cls];
    p.free[cls] = free_block;
    if (--p.live == 0) start_over(p);
}

}  // namespace tessel::node_pool
