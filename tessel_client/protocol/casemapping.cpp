#include "tessel_client/protocol/casemapping.hpp"

#include <array>

namespace tessel {
namespace {

using FoldTable = std::array<unsigned char, 256>;

// Folding works byte by byte: every byte it changes is ASCII, and the bytes of a
// multi-byte UTF-8 character (all 0x80 or above) pass through untouched.
constexpr FoldTable make_table(CaseMapping mapping) {
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

constexpr std::array<FoldTable, 3> kTables{make_table(CaseMapping::Ascii), make_table(CaseMapping::Rfc1459),
                                           make_table(CaseMapping::Rfc1459Strict)};

const FoldTable& table_for(CaseMapping mapping) {
    const auto index = static_cast<std::size_t>(mapping);
    return kTables[index < kTables.size() ? index : static_cast<std::size_t>(CaseMapping::Rfc1459)];
}

}  // namespace

std::string irc_fold(CaseMapping mapping, std::string_view name) {
    const FoldTable& t = table_for(mapping);
    std::string out(name.size(), '\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        out[i] = static_cast<char>(t[static_cast<unsigned char>(name[i])]);
    }
    return out;
}

bool irc_equal(CaseMapping mapping, std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const FoldTable& t = table_for(mapping);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (t[static_cast<unsigned char>(a[i])] != t[static_cast<unsigned char>(b[i])]) return false;
    }
    return true;
}

}  // namespace tessel
