// Byte searches for the line codecs, 16 bytes at a time with SSE2 and eight without: the
// parts of an IRC line are mostly short, where a library call costs more than the search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline unsigned mask16(__m128i lanes) { return static_cast<unsigned>(_mm_movemask_epi8(lanes)); }
inline std::size_t low_bit(unsigned m) { return static_cast<std::size_t>(__builtin_ctz(m)); }

// First position at or after `i` whose 16-byte block `lanes` marks, or text.size(). Texts of
// 16 bytes or more end with one overlapping block; shorter ones return `i` unchanged (with
// `done` false) for the byte loop.
template <class Lanes>
inline std::size_t find_lanes(std::string_view text, std::size_t i, Lanes lanes, bool& done) {
    const char* p = text.data();
    const std::size_t n = text.size();
    done = true;
    for (; i + 16 <= n; i += 16) {
        if (const unsigned m = mask16(lanes(load16(p + i)))) return i + low_bit(m);
    }
    if (i >= n) return i;  // as the byte loops do for a start past the end
    if (n >= 16) {
        const unsigned m = mask16(lanes(load16(p + n - 16))) >> (i - (n - 16));
        return m ? i + low_bit(m) : n;
    }
    done = false;
    return i;
}
#endif

// First position at or after `i` holding `a`, or text.size().
inline std::size_t find(std::string_view text, std::size_t i, char a) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    bool done;
    i = find_lanes(text, i, [va](__m128i v) { return _mm_cmpeq_epi8(v, va); }, done);
    if (done) return i;
#endif
    while (i + 8 <= text.size() && !has_byte(load8(text.data() + i), a)) i += 8;
    while (i < text.size() && text[i] != a) ++i;
    return i;
}

// First position at or after `i` holding `a` or `b`, or text.size().
inline std::size_t find_either(std::string_view text, std::size_t i, char a, char b) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
    bool done;
    i = find_lanes(
        text, i, [va, vb](__m128i v) { return _mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)); }, done);
    if (done) return i;
#endif
    while (i + 8 <= text.size()) {
        const std::uint64_t w = load8(text.data() + i);
        if (has_byte(w, a) || has_byte(w, b)) break;
        i += 8;
    }
    while (i < text.size() && text[i] != a && text[i] != b) ++i;
    return i;
}

// Whether the n bytes at a and b are the same. Up to 16 bytes are compared as two
// overlapping words, without a library call.
inline bool same_bytes(const char* a, const char* b, std::size_t n) {
    if (n >= 8) {
        if (n > 16) return std::memcmp(a, b, n) == 0;
        return ((load8(a) ^ load8(b)) | (load8(a + n - 8) ^ load8(b + n - 8))) == 0;
    }
    if (n >= 4) {
        std::uint32_t a1, b1, a2, b2;
        std::memcpy(&a1, a, 4);
        std::memcpy(&b1, b, 4);
        std::memcpy(&a2, a + n - 4, 4);
        std::memcpy(&b2, b + n - 4, 4);
        return ((a1 ^ b1) | (a2 ^ b2)) == 0;
    }
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Overwrites `out` with `text`, keeping its buffer. Clear and append skip the overlap handling
// of assign, which a copy out of a received line never needs.
inline void copy_into(std::string& out, std::string_view text) {
    out.clear();
    out.append(text.data(), text.size());
}

// copy_into for a field that mostly holds the same text from line to line (a tag key,
// the command): an equal text is left as it is.
inline void keep_or_copy(std::string& out, std::string_view text) {
    if (out.size() == text.size() && same_bytes(out.data(), text.data(), text.size())) return;
    copy_into(out, text);
}

}  // namespace tessel::byte_scan
