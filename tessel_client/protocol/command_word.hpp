// A command word as one number, for the tables that route received messages by their word.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tessel {

// The first eight bytes of a word as one number whose order is the words' byte order (a
// shorter word is padded with zero bytes), so a table lookup compares integers instead of
// strings. Words that differ only past their eighth byte or by trailing NULs share a number;
// the caller tells them apart by length, and past eight bytes by the words themselves.
constexpr std::uint64_t word_number(std::string_view word) {
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < 8; ++i) n = (n << 8) | (i < word.size() ? static_cast<unsigned char>(word[i]) : 0u);
    return n;
}

// word_number of the word with "a".."z" in upper case: the number of the table word it
// matches in any letter case. Every line is routed by it, so the bytes are cased eight at once.
inline std::uint64_t upper_word_number(std::string_view word) {
    std::uint64_t w = 0;
    std::memcpy(&w, word.data(), word.size() < 8 ? word.size() : 8);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);  // first byte highest
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
    // High bit of each byte from "a" up, and of each byte past "z", among the bytes below 0x80.
    const std::uint64_t low7 = w & ~kHighs;
    const std::uint64_t from_a = (low7 + kOnes * (0x80 - 'a')) & kHighs;
    const std::uint64_t past_z = (low7 + kOnes * (0x80 - 'z' - 1)) & kHighs;
    const std::uint64_t lower = from_a & ~past_z & ~w & kHighs;
    return w ^ (lower >> 2);  // 0x80 >> 2 is the case bit 0x20
}

}  // namespace tessel
