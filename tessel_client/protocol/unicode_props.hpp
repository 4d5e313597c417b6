// Unicode character properties from generated tables (unicode_tables.cpp, made by scripts/gen_unicode_tables.py).
#pragma once

namespace tessel {

bool is_white_space(char32_t c);        // White_Space
bool is_alphabetic(char32_t c);         // Alphabetic
bool is_numeric(char32_t c);            // general category Nd, Nl or No
bool is_grapheme_extend(char32_t c);    // Grapheme_Extend
// Characters the host JSON error texts show escaped: Grapheme_Extend or category
// Cc, Cf, Cs, Co, Cn, Zs, Zl, Zp, except U+0020.
bool is_escaped_when_shown(char32_t c);

}  // namespace tessel
