// Nick and channel name folding under the server's CASEMAPPING.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessel {

enum class CaseMapping : std::uint8_t { Ascii = 0, Rfc1459 = 1, Rfc1459Strict = 2 };

// Folding works byte by byte: every byte it changes is ASCII, and the bytes of a multi-byte
// UTF-8 character (all 0x80 or above) pass through untouched. The table is public so that a
// search can fold the text it reads as it goes instead of copying it.
using FoldTable = std::array<unsigned char, 256>;

constexpr FoldTable make_fold_table(CaseMapping mapping) {
    FoldTable t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
    for (int c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<unsigned char>(c - 'A' + 'a');
    if (mapping != CaseMapping::Ascii) {
        t['['] = '{';
        t['\\'] = '|';
        t[']'] = '}';
    }
    if (mapping == CaseMapping::Rfc1459) t['~'] = '^';
    return t;
}

inline constexpr std::array<FoldTable, 3> kFoldTables{make_fold_table(CaseMapping::Ascii),
                                                      make_fold_table(CaseMapping::Rfc1459),
                                                      make_fold_table(CaseMapping::Rfc1459Strict)};

// What irc_fold makes of each byte; an unknown mapping folds as rfc1459.
constexpr const FoldTable& fold_table(CaseMapping mapping) {
    const auto index = static_cast<std::size_t>(mapping);
    return kFoldTables[index < kFoldTables.size() ? index : static_cast<std::size_t>(CaseMapping::Rfc1459)];
}

std::string irc_fold(CaseMapping mapping, std::string_view name);
bool irc_equal(CaseMapping mapping, std::string_view a, std::string_view b);

}  // namespace tessel
