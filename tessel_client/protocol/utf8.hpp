// UTF-8 helpers: lossy decoding of wire bytes, strict validation, code-point iteration.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

// Each maximal invalid subpart becomes one U+FFFD (the Unicode "best practice").
std::string utf8_lossy(std::string_view bytes);
// Appends the lossy decoding of `bytes` to `out`.
void utf8_lossy_append(std::string_view bytes, std::string& out);
bool utf8_valid(std::string_view bytes);
// Appends the encoding of `cp`; a surrogate or a value above U+10FFFF becomes U+FFFD.
void utf8_append(char32_t cp, std::string& out);

// Decodes the code point at `pos` of valid UTF-8 and advances `pos`;
// nothing at the end or on an invalid sequence (pos is then left unchanged).
std::optional<char32_t> utf8_next(std::string_view text, std::size_t& pos);
// Like utf8_next, but an invalid sequence gives U+FFFD and is skipped as one maximal
// subpart, so a walk over any text ends. `pos` must be below text.size().
char32_t utf8_next_lossy(std::string_view text, std::size_t& pos);
// Number of code points in valid UTF-8.
std::size_t utf8_length(std::string_view text);
// Whether the text holds the character `c` (valid UTF-8 only matches whole characters).
bool utf8_contains(std::string_view text, char32_t c);

}  // namespace tessel
