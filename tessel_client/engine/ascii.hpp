// ASCII letter-case helpers for command words and fixed protocol words.
#pragma once

#include <string>
#include <string_view>

namespace tessel {

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Same length, "A".."Z" equal to "a".."z", every other byte compared as it is.
constexpr bool ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

inline std::string ascii_uppercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_upper(c);
    return out;
}

}  // namespace tessel
