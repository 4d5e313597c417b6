#include "tessel_client/model/node_pool.hpp"

#include <algorithm>
#include <atomic>
#include <new>

namespace tessel {
namespace {

// Slabs grow from a page to a quarter of a mebibyte, so a small model keeps a small pool.
constexpr std::size_t kFirstSlabBytes = std::size_t{4} << 10;
constexpr std::size_t kMaxSlabBytes = std::size_t{256} << 10;
constexpr std::align_val_t kSlabAlign{16};

std::atomic<std::size_t> pools_alive{0};  // models on several threads make and drop pools

std::size_t size_class(std::size_t bytes, std::size_t grain) { return (bytes + grain - 1) / grain - 1; }

}  // namespace

NodePool::NodePool() { pools_alive.fetch_add(1, std::memory_order_relaxed); }

NodePool::~NodePool() {
    for (auto [slab, bytes] : slabs_) ::operator delete(slab, kSlabAlign);
    pools_alive.fetch_sub(1, std::memory_order_relaxed);
}

std::size_t NodePool::live_pools() noexcept { return pools_alive.load(std::memory_order_relaxed); }

void NodePool::release() noexcept {
    if (--users_ == 0) delete this;
}

std::size_t NodePool::slab_bytes() const {
    std::size_t total = 0;
    for (const auto& slab : slabs_) total += slab.second;
    return total;
}

// With no block in use, the pool starts over from its first slab and gives the others back.
// Free lists reuse blocks in the reverse order of their freeing, which scatters a rebuilt
// map over every slab; started over, the next one is laid out in order again, and a large
// set of maps emptied leaves no memory behind.
void NodePool::start_over() noexcept {
    free_.fill(nullptr);
    for (std::size_t i = 1; i < slabs_.size(); ++i) ::operator delete(slabs_[i].first, kSlabAlign);
    slabs_.resize(1);
    cursor_ = static_cast<char*>(slabs_.front().first);
    end_ = cursor_ + slabs_.front().second;
}

void* NodePool::allocate(std::size_t bytes) {
    const std::size_t cls = size_class(bytes == 0 ? 1 : bytes, kGrain);
    if (FreeBlock* block = free_[cls]) {
        free_[cls] = block->next;
        ++live_;
        return block;
    }
    const std::size_t size = (cls + 1) * kGrain;
    if (static_cast<std::size_t>(end_ - cursor_) < size) {
        const std::size_t slab_size = slabs_.empty() ? kFirstSlabBytes
                                                     : std::min(slabs_.back().second * 2, kMaxSlabBytes);
        if (slabs_.size() == slabs_.capacity()) slabs_.reserve(slabs_.size() * 2 + 1);  // before the slab: nothing leaks if this throws
        void* slab = ::operator new(slab_size, kSlabAlign);
        slabs_.emplace_back(slab, slab_size);
        cursor_ = static_cast<char*>(slab);
        end_ = cursor_ + slab_size;
    }
    void* block = cursor_;
    cursor_ += size;
    ++live_;
    return block;
}

void NodePool::deallocate(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    const std::size_t cls = size_class(bytes == 0 ? 1 : bytes, kGrain);
    auto* free_block = static_cast<FreeBlock*>(block);
    free_block->next = free_[cls];
    free_[cls] = free_block;
    if (--live_ == 0) start_over();
}

}  // namespace tessel
