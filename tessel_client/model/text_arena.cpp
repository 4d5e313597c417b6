#include "tessel_client/model/text_arena.hpp"

#include <algorithm>
#include <utility>

namespace tessel {

TextArena::TextArena(TextArena&& other) noexcept
    : blocks_(std::move(other.blocks_)), free_indexes_(std::move(other.free_indexes_)),
      current_(std::exchange(other.current_, kNone)), spare_(std::exchange(other.spare_, nullptr)),
      last_size_(std::exchange(other.last_size_, 0)), live_(std::exchange(other.live_, 0)),
      held_(std::exchange(other.held_, 0)) {
    other.blocks_.clear();
    other.free_indexes_.clear();
}

TextArena& TextArena::operator=(TextArena&& other) noexcept {
    if (this != &other) {
        clear();
        blocks_ = std::move(other.blocks_);
        free_indexes_ = std::move(other.free_indexes_);
        current_ = std::exchange(other.current_, kNone);
        spare_ = std::exchange(other.spare_, nullptr);
        last_size_ = std::exchange(other.last_size_, 0);
        live_ = std::exchange(other.live_, 0);
        held_ = std::exchange(other.held_, 0);
        other.blocks_.clear();
        other.free_indexes_.clear();
    }
    return *this;
}

void TextArena::clear() noexcept {
    for (Block& block : blocks_) delete[] block.data;
    delete[] spare_;
    blocks_.clear();
    free_indexes_.clear();
    current_ = kNone;
    spare_ = nullptr;
    last_size_ = 0;
    live_ = 0;
    held_ = 0;
}

std::uint32_t TextArena::new_block(std::size_t bytes) {
    // Doubling from the first run's size keeps a log of a few messages small; the cap keeps a
    // full log's slack to about a block.
    constexpr std::size_t kGrain = 64;
    const std::size_t wanted = std::max((bytes + kGrain - 1) / kGrain * kGrain, std::min(kMaxBlock, last_size_ * 2));
    if (free_indexes_.empty()) {
        blocks_.reserve(blocks_.size() + 1);  // before the block: nothing leaks if this throws
        free_indexes_.reserve(blocks_.size() + 1);
    }
    Block block;
    block.size = wanted;
    if (wanted == kMaxBlock && spare_ != nullptr) {
        block.data = std::exchange(spare_, nullptr);
    } else {
        block.data = new char[wanted];
        held_ += wanted;
    }
    last_size_ = wanted;
    std::uint32_t index;
    if (!free_indexes_.empty()) {
        index = free_indexes_.back();
        free_indexes_.pop_back();
        blocks_[index] = block;
    } else {
        index = static_cast<std::uint32_t>(blocks_.size());
        blocks_.push_back(block);
    }
    return index;
}

TextArena::Run TextArena::allocate(std::size_t bytes) {
    if (current_ == kNone || blocks_[current_].size - blocks_[current_].used < bytes) current_ = new_block(bytes);
    Block& block = blocks_[current_];
    char* at = block.data + block.used;
    block.used += bytes;
    block.live += bytes;
    live_ += bytes;
    return Run{at, current_};
}

void TextArena::release(std::uint32_t index, std::size_t bytes) noexcept {
    Block& block = blocks_[index];
    block.live -= bytes;
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
    free_indexes_.push_back(index);  // room reserved when the block was made
}

}  // namespace tessel
