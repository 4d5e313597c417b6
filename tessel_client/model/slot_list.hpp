// A short list of slot numbers in one word: the channels one nick is a member of, as the
// membership index numbers them. Most nicks share a single channel with the connection, so one
// slot is kept inline and only longer lists take a heap block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

namespace tessel {

class SlotList {
public:
    SlotList() = default;
    SlotList(const SlotList& other) {
        for (std::size_t i = 0; i < other.size(); ++i) insert(i, other[i]);
    }
    SlotList(SlotList&& other) noexcept : bits_(other.bits_) { other.bits_ = 0; }
    SlotList& operator=(const SlotList& other) {
        if (this != &other) {
            SlotList copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    SlotList& operator=(SlotList&& other) noexcept {
        if (this != &other) {
            release();
            bits_ = other.bits_;
            other.bits_ = 0;
        }
        return *this;
    }
    ~SlotList() { release(); }

    std::size_t size() const noexcept {
        if (bits_ == 0) return 0;
        if (bits_ & 1) return 1;
        return block()[0];
    }
    bool empty() const noexcept { return bits_ == 0; }
    std::uint32_t operator[](std::size_t i) const noexcept {
        if (bits_ & 1) return static_cast<std::uint32_t>(bits_ >> 1);
        return block()[kHead + i];
    }

    void insert(std::size_t at, std::uint32_t slot) {
        const std::size_t n = size();
        if (n == 0) {
            bits_ = (std::uintptr_t{slot} << 1) | 1;
            return;
        }
        std::uint32_t* b = nullptr;
        if (n == 1) {
            b = grow(nullptr, 0, 4);
            b[kHead] = (*this)[0];
        } else {
            b = block();
            if (b[1] == n) b = grow(b, n, 2 * n);
        }
        std::memmove(b + kHead + at + 1, b + kHead + at, (n - at) * sizeof *b);
        b[kHead + at] = slot;
        b[0] = static_cast<std::uint32_t>(n + 1);
        bits_ = reinterpret_cast<std::uintptr_t>(b);
    }
    void erase(std::size_t at) noexcept {
        const std::size_t n = size();
        if (n == 1) {
            release();
            return;
        }
        std::uint32_t* b = block();
        std::memmove(b + kHead + at, b + kHead + at + 1, (n - at - 1) * sizeof *b);
        b[0] = static_cast<std::uint32_t>(n - 1);
        if (n - 1 == 1) {
            const std::uint32_t last = b[kHead];
            release();
            bits_ = (std::uintptr_t{last} << 1) | 1;
        }
    }

    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::uint32_t;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::uint32_t;
        Iterator() = default;
        Iterator(const SlotList* list, std::size_t at) : list_(list), at_(at) {}
        std::uint32_t operator*() const { return (*list_)[at_]; }
        Iterator& operator++() {
            ++at_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator was = *this;
            ++at_;
            return was;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        const SlotList* list_ = nullptr;
        std::size_t at_ = 0;
    };
    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(this, size()); }

private:
    // Empty: 0. One slot: the slot shifted up, low bit set. Otherwise a block (aligned, so its
    // low bit is clear) holding the size, the capacity, then the slots.
    static constexpr std::size_t kHead = 2;
    std::uintptr_t bits_ = 0;

    std::uint32_t* block() const noexcept { return reinterpret_cast<std::uint32_t*>(bits_); }
    static std::uint32_t* grow(std::uint32_t* old, std::size_t n, std::size_t capacity) {
        auto* b = new std::uint32_t[kHead + capacity];
        if (old != nullptr) {
            std::memcpy(b, old, (kHead + n) * sizeof *b);
            delete[] old;
        }
        b[0] = static_cast<std::uint32_t>(n);
        b[1] = static_cast<std::uint32_t>(capacity);
        return b;
    }
    void release() noexcept {
        if (bits_ != 0 && !(bits_ & 1)) delete[] block();
        bits_ = 0;
    }
};

}  // namespace tessel
