// Byte storage for the texts of one message log: runs bumped one after another into blocks,
// each block given back (or kept for the next) once the last run in it is released.
//
// Messages mostly leave a log in the order they came, so blocks empty in the order they
// filled: a full log keeps about its live bytes plus a block, and appending and evicting
// cost a bump and a counter, with no heap call once the log has reached its size. A block
// pinned by a run that outlives its neighbours is what `sparse` tells the owner about, so
// that it can copy the live runs into a fresh arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessel {

class TextArena {
public:
    // Blocks grow from the first run's size up to this; a longer run gets a block of its own.
    static constexpr std::size_t kMaxBlock = std::size_t{16} << 10;

    struct Run {
        char* data;
        std::uint32_t block;
    };

    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;
    TextArena(TextArena&& other) noexcept;
    TextArena& operator=(TextArena&& other) noexcept;
    ~TextArena() { clear(); }

    // Room for `bytes` bytes; stays where it is until released.
    Run allocate(std::size_t bytes);
    // Gives back a run of `bytes` bytes taken from `block`.
    void release(std::uint32_t block, std::size_t bytes) noexcept;
    void clear() noexcept;

    std::size_t live_bytes() const { return live_; }
    std::size_t held_bytes() const { return held_; }
    // Most of the held bytes are dead: worth copying the live runs out.
    bool sparse() const { return held_ > 2 * live_ + 4 * kMaxBlock; }

private:
    static constexpr std::uint32_t kNone = 0xffffffffu;
    struct Block {
        char* data = nullptr;  // null: a free index, `next_free` the next one
        std::uint32_t size = 0;
        std::uint32_t used = 0;
        std::uint32_t live = 0;  // bytes of runs not yet released
        std::uint32_t next_free = kNone;
    };
    std::vector<Block> blocks_;
    std::uint32_t free_index_ = kNone;  // first free index of blocks_
    std::uint32_t current_ = kNone;     // the block runs are bumped into
    std::uint32_t last_size_ = 0;       // size of the newest block, which the next one doubles
    char* spare_ = nullptr;             // an emptied block of kMaxBlock bytes, for the next one
    std::size_t live_ = 0;
    std::size_t held_ = 0;

    std::uint32_t new_block(std::size_t bytes);
};

}  // namespace tessel
