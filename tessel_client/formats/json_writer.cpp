#include "tessel_client/formats/json_writer.hpp"

#include <array>
#include <charconv>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessel {
namespace {

// 0: copied as it is; otherwise the letter of a short escape, or 'u' for \u00XX.
constexpr std::array<char, 256> kEscape = [] {
    std::array<char, 256> t{};
    for (int i = 0; i < 0x20; ++i) t[i] = 'u';
    t['\b'] = 'b';
    t['\t'] = 't';
    t['\n'] = 'n';
    t['\f'] = 'f';
    t['\r'] = 'r';
    t['"'] = '"';
    t['\\'] = '\\';
    return t;
}();

// The first byte at or after `i` that needs an escape, or text.size(). Sixteen at a time:
// most texts have none, and a snapshot is mostly message texts.
std::size_t next_escape(std::string_view text, std::size_t i) {
    const char* p = text.data();
    const std::size_t n = text.size();
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1f);
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                         _mm_cmpeq_epi8(_mm_max_epu8(v, control), control));  // v <= 0x1f
        if (const int m = _mm_movemask_epi8(hit)) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(m)));
    }
#endif
    while (i < n && kEscape[static_cast<unsigned char>(p[i])] == 0) ++i;
    return i;
}

}  // namespace

void write_json_text(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t run = 0;
    for (std::size_t i = next_escape(text, 0); i < text.size(); i = next_escape(text, run)) {
        out.append(text.data() + run, i - run);
        const auto c = static_cast<unsigned char>(text[i]);
        const char esc = kEscape[c];
        if (esc == 'u') {
            const char seq[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out.append(seq, 6);
        } else {
            const char seq[2] = {'\\', esc};
            out.append(seq, 2);
        }
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

std::string json_buffer_for(std::size_t bytes) {
    std::string out;
    out.reserve(bytes);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // A snapshot can run to hundreds of megabytes of fresh memory, and each 4 KiB page of it
    // costs a fault on first write; huge pages cut that by a factor of 512. Only a hint:
    // the buffer is the same either way.
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (bytes >= 4 * kHuge) {
        const auto begin = reinterpret_cast<std::uintptr_t>(out.data());
        const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
        const std::uintptr_t last = (begin + out.capacity()) & ~(kHuge - 1);
        if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#endif
    return out;
}

void write_json_u64(std::uint64_t value, std::string& out) {
    char buf[20];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, static_cast<std::size_t>(res.ptr - buf));
}

}  // namespace tessel
