// A string of a few bytes kept in sixteen: up to fifteen bytes inline, longer ones on the heap.
// For a field stored once per channel member whose text is nearly always a symbol or two.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace tessel {

class ShortText {
public:
    ShortText() noexcept { bytes_[kLast] = 0; }
    explicit ShortText(std::string_view text) {
        bytes_[kLast] = 0;
        assign(text);
    }
    ShortText(const ShortText& other) : ShortText(other.view()) {}
    ShortText(ShortText&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        other.bytes_[kLast] = 0;
    }
    ShortText& operator=(const ShortText& other) {
        if (this != &other) assign(other.view());
        return *this;
    }
    ShortText& operator=(ShortText&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(bytes_, other.bytes_, sizeof bytes_);
            other.bytes_[kLast] = 0;
        }
        return *this;
    }
    ShortText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    ~ShortText() { release(); }

    std::string_view view() const noexcept {
        if (!on_heap()) return {bytes_, static_cast<std::size_t>(bytes_[kLast])};
        const char* block = heap_pointer();
        std::size_t n;
        std::memcpy(&n, block, sizeof n);
        return {block + sizeof n, n};
    }
    operator std::string_view() const noexcept { return view(); }
    operator std::string() const { return std::string(view()); }
    std::size_t size() const noexcept { return view().size(); }
    bool empty() const noexcept { return size() == 0; }

    friend bool operator==(const ShortText& a, const ShortText& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const ShortText& a, std::string_view b) noexcept { return a.view() == b; }

private:
    static constexpr std::size_t kLast = 15;
    static constexpr char kHeap = static_cast<char>(0xFF);  // in the last byte: a pointer before it
    char bytes_[16];

    bool on_heap() const noexcept { return bytes_[kLast] == kHeap; }
    char* heap_pointer() const noexcept {
        char* p;
        std::memcpy(&p, bytes_, sizeof p);
        return p;
    }
    void release() noexcept {
        if (on_heap()) delete[] heap_pointer();
        bytes_[kLast] = 0;
    }
    void assign(std::string_view text) {
        if (text.size() <= kLast) {
            char copy[kLast];  // the text may lie in this very object
            std::memcpy(copy, text.data(), text.size());
            release();
            std::memcpy(bytes_, copy, text.size());
            bytes_[kLast] = static_cast<char>(text.size());
            return;
        }
        // A heap block holds the size, then the bytes.
        const std::size_t n = text.size();
        char* block = new char[sizeof n + n];
        std::memcpy(block, &n, sizeof n);
        std::memcpy(block + sizeof n, text.data(), n);
        release();
        std::memcpy(bytes_, &block, sizeof block);
        bytes_[kLast] = kHeap;
    }
};

}  // namespace tessel
