#include "tessel_client/formats/json_writer.hpp"

#include <array>
#include <charconv>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
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

}  // namespace

void write_json_text(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* run = p;
    while (p != end) {
        const char esc = kEscape[static_cast<unsigned char>(*p)];
        if (esc == 0) {
            ++p;
            continue;
        }
        out.append(run, static_cast<std::size_t>(p - run));
        if (esc == 'u') {
            const auto c = static_cast<unsigned char>(*p);
            const char seq[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out.append(seq, 6);
        } else {
            const char seq[2] = {'\\', esc};
            out.append(seq, 2);
        }
        run = ++p;
    }
    out.append(run, static_cast<std::size_t>(end - run));
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
