// Range tables behind unicode_props.hpp (the data is generated into unicode_tables.cpp).
#pragma once

#include <cstddef>

namespace tessel::unicode_tables {

// An inclusive range of code points; each table is sorted and its ranges do not touch.
struct CodeRange {
    char32_t first;
    char32_t last;
};

extern const CodeRange kWhiteSpace[];
extern const std::size_t kWhiteSpaceSize;
extern const CodeRange kAlphabetic[];
extern const std::size_t kAlphabeticSize;
extern const CodeRange kNumeric[];
extern const std::size_t kNumericSize;
extern const CodeRange kGraphemeExtend[];
extern const std::size_t kGraphemeExtendSize;
extern const CodeRange kEscapedWhenShown[];
extern const std::size_t kEscapedWhenShownSize;

}  // namespace tessel::unicode_tables
