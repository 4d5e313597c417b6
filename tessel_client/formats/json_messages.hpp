// The texts of host JSON reading errors, and how a value is shown inside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace tessel {

// Shortest digits that read back to the same double, in plain form when the power of ten
// of the first digit is from -5 to 15 ("1000.0", "0.00001", "-0.0"), else exponent form
// ("1e+16", "1.5e-7").
std::string float_text(double value);

// How error texts show a value met: string "..", integer `n`, floating point `x`.
void append_shown_string(std::string_view decoded, std::string& out);
// The text alone between double quotes, escaped as a shown string escapes it.
void append_quoted_text(std::string_view decoded, std::string& out);
void append_shown_unsigned(std::uint64_t value, std::string& out);
void append_shown_signed(std::int64_t value, std::string& out);
void append_shown_float(double value, std::string& out);

std::string invalid_type(std::string_view shown, std::string_view expected);
std::string invalid_value(std::string_view shown, std::string_view expected);
std::string missing_field(std::string_view name);
std::string duplicate_field(std::string_view name);
std::string invalid_length(std::size_t length, std::string_view expected);
// "1 element in sequence", "{n} elements in sequence".
std::string elements_in_sequence(std::size_t count);
// "unknown variant `given`, expected ..." with the names listed as "`a`", "`a` or `b`" or
// "one of `a`, `b`, `c`".
std::string unknown_variant(std::string_view given, std::span<const std::string_view> names);

}  // namespace tessel
