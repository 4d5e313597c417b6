#include "tessel_client/model/text_arena.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tessel {

TextArena::TextArena(TextArena&& other) noexcept { *this = std::move(other); }

TextArena& TextArena::operator=(TextArena&& other) noexcept {
    if (this != &other) {
        clear();
        blocks_ = std::exchange(other.blocks_, {});
        free_index_ = std::exchange(other.free_index_, kNone);
        current_ = std::exchange(other.current_, kNone);
        last_size_ = std::exchange(other.last_size_, 0);
        spare_ = std::exchange(other.spare_, nullptr);
        live_ = std::exchange(other.live_, 0);
        held_ = std::exchange(other.held_, 0);
    }
    return *this;
}

void TextArena::clear() noexcept {
    for (Block& block : blocks_) delete[] block.data;
    delete[] spare_;
    blocks_ = {};
    free_index_ = kNone;
    current_ = kNone;
    last_size_ = 0;
    spare_ = nullptr;
    live_ = 0;
    held_ = 0;
}

std::uint32_t TextArena::new_block(std::size_t bytes) {
    // Doubling from the first run's size keeps a log of a few messages small; the cap keeps a
    // full log's slack to about a block.
    constexpr std::size_t kGrain = 16;
    if (bytes > (std::size_t{1} << 31)) throw std::length_error("text run too long");
    const std::size_t wanted =
        std::max((bytes + kGrain - 1) / kGrain * kGrain, std::min(kMaxBlock, std::size_t{last_size_} * 2));
    if (free_index_ == kNone) blocks_.reserve(blocks_.size() + 1);  // before the block: nothing leaks if this throws
    Block block;
    block.size = static_cast<std::uint32_t>(wanted);
    if (wanted == kMaxBlock && spare_ != nullptr) {
        block.data = std::exchange(spare_, nullptr);
    } else {
        block.data = new char[wanted];
        held_ += wanted;
    }
    last_size_ = block.size;
    if (free_index_ != kNone) {
        const std::uint32_t index = free_index_;
        free_index_ = blocks_[index].next_free;
        blocks_[index] = block;
        return index;
    }
    blocks_.push_back(block);
    return static_cast<std::uint32_t>(blocks_.size() - 1);
}

TextArena::Run TextArena::allocate(std::size_t bytes) {
    if (current_ == kNone || blocks_[current_].size - blocks_[current_].used < bytes) current_ = new_block(bytes);
    Block& block = blocks_[current_];
    char* at = block.data + block.used;
    block.used += static_cast<std::uint32_t>(bytes);
    block.live += static_cast<std::uint32_t>(bytes);
    live_ += bytes;
    return Run{at, current_};
}

void TextArena::release(std::uint32_t index, std::size_t bytes) noexcept {
    Block& block = blocks_[index];
    block.live -= static_cast<std::uint32_t>(bytes);
    live_ -= bytes;
    if (block.live != 0) return;
    if (index == current_) {  // nothing in it is read any more: bump from its start again
        block.used = 0;
        return;
    }
    if (block.size == kMaxBlock && spare_ == nullptr) {
        spare_ = block.data;
    } else {
        delete[] block.data;
        held_ -= block.size;
    }
    block = Block{};
    block.next_free = free_index_;
    free_index_ = index;
}

}  // namespace tessel
