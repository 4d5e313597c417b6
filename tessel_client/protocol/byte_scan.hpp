// Byte searches for the line codecs, eight bytes at a time: the parts of an IRC line
// are mostly short, where a library call costs more than the search itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tessel::byte_scan {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

inline std::uint64_t load8(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// Whether any byte of `w` equals `c` (exact: no false answers either way).
inline bool has_byte(std::uint64_t w, char c) {
    const std::uint64_t x = w ^ (kOnes * static_cast<unsigned char>(c));
    return ((x - kOnes) & ~x & kHighs) != 0;
}

// Whether any byte of `w` is below `n` (n at most 0x80; exact).
inline bool has_byte_below(std::uint64_t w, unsigned char n) {
    return ((w - kOnes * n) & ~w & kHighs) != 0;
}

// First position at or after `i` holding `a`, or text.size().
inline std::size_t find(std::string_view text, std::size_t i, char a) {
    while (i + 8 <= text.size() && !has_byte(load8(text.data() + i), a)) i += 8;
    while (i < text.size() && text[i] != a) ++i;
    return i;
}

// First position at or after `i` holding `a` or `b`, or text.size().
inline std::size_t find_either(std::string_view text, std::size_t i, char a, char b) {
    while (i + 8 <= text.size()) {
        const std::uint64_t w = load8(text.data() + i);
        if (has_byte(w, a) || has_byte(w, b)) break;
        i += 8;
    }
    while (i < text.size() && text[i] != a && text[i] != b) ++i;
    return i;
}

// Overwrites `out` with `text`, keeping its buffer. Clear and append skip the overlap handling
// of assign, which a copy out of a received line never needs.
inline void copy_into(std::string& out, std::string_view text) {
    out.clear();
    out.append(text.data(), text.size());
}

}  // namespace tessel::byte_scan
