#include "tessel_client/protocol/utf8.hpp"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessel {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

struct Decoded {
    char32_t cp;
    std::size_t len;  // bytes consumed: the whole character, or the maximal invalid subpart
    bool valid;
};

// Decodes one sequence starting at p[0] (n >= 1 bytes available), following the
// well-formed byte sequences of Unicode Table 3-7.
inline Decoded decode(const unsigned char* p, std::size_t n) {
    const unsigned char b = p[0];
    if (b < 0x80) return {b, 1, true};
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return {0xFFFD, 1, false};
    }
    std::size_t i = 1;
    for (; i <= need; ++i) {
        if (i >= n) return {0xFFFD, i, false};
        const unsigned char c = p[i];
        if (c < lo || c > hi) return {0xFFFD, i, false};
        cp = (cp << 6) | (c & 0x3F);
        lo = 0x80;
        hi = 0xBF;
    }
    return {cp, i, true};
}

inline bool all_ascii8(const unsigned char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return (w & 0x8080808080808080ULL) == 0;
}

// First position at or after `i` holding a byte of 0x80 or more, or n.
inline std::size_t skip_ascii(const unsigned char* p, std::size_t n, std::size_t i) {
#if defined(__SSE2__)
    const auto load = [p](std::size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)); };
    // Lines are mostly ASCII: 64 bytes a step while no sign bit is set, then 16 to find it.
    for (; i + 64 <= n; i += 64) {
        const __m128i any = _mm_or_si128(_mm_or_si128(load(i), load(i + 16)), _mm_or_si128(load(i + 32), load(i + 48)));
        if (_mm_movemask_epi8(any)) break;
    }
    for (; i + 16 <= n; i += 16) {
        if (const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(load(i))))
            return i + static_cast<std::size_t>(__builtin_ctz(m));
    }
    if (i < n && n >= 16) {
        // The last 16 bytes, less those already seen.
        const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(load(n - 16))) >> (i - (n - 16));
        return m ? i + static_cast<std::size_t>(__builtin_ctz(m)) : n;
    }
#endif
    while (i + 8 <= n && all_ascii8(p + i)) i += 8;
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

}  // namespace

void utf8_lossy_append(std::string_view bytes, std::string& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    std::size_t run = 0;  // start of the pending run of bytes copied as they are
    while (i < n) {
        if (i + 8 <= n && all_ascii8(p + i)) {
            i += 8;
            continue;
        }
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const Decoded d = decode(p + i, n - i);
        if (d.valid) {
            i += d.len;
            continue;
        }
        out.append(bytes.data() + run, i - run);
        out.append(kReplacement, 3);
        i += d.len;
        run = i;
    }
    out.append(bytes.data() + run, n - run);
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    utf8_lossy_append(bytes, out);
    return out;
}

bool utf8_valid(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = skip_ascii(p, n, 0); i < n; i = skip_ascii(p, n, i)) {
        // Characters one at a time while no ASCII comes between them.
        do {
            const Decoded d = decode(p + i, n - i);
            if (!d.valid) return false;
            i += d.len;
        } while (i < n && p[i] >= 0x80);
    }
    return true;
}

void utf8_append(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
        out.append(kReplacement, 3);
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp <= 0x10FFFF) {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.append(kReplacement, 3);
    }
}

std::optional<char32_t> utf8_next(std::string_view text, std::size_t& pos) {
    if (pos >= text.size()) return std::nullopt;
    const Decoded d = decode(reinterpret_cast<const unsigned char*>(text.data()) + pos, text.size() - pos);
    if (!d.valid) return std::nullopt;
    pos += d.len;
    return d.cp;
}

char32_t utf8_next_lossy(std::string_view text, std::size_t& pos) {
    const Decoded d = decode(reinterpret_cast<const unsigned char*>(text.data()) + pos, text.size() - pos);
    pos += d.len;
    return d.cp;
}

std::size_t utf8_length(std::string_view text) {
    std::size_t count = 0;
    for (const char ch : text) {
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++count;
    }
    return count;
}

bool utf8_contains(std::string_view text, char32_t c) {
    if (c < 0x80) return text.find(static_cast<char>(c)) != std::string_view::npos;
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    std::string encoded;  // at most four bytes: stays in the small-string buffer
    utf8_append(c, encoded);
    return text.find(encoded) != std::string_view::npos;
}

}  // namespace tessel
