#include "tessel_client/formats/json_messages.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "tessel_client/protocol/unicode_props.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {

std::string float_text(double value) {
    char buf[64];
    if (!std::isfinite(value)) {
        const auto res = std::to_chars(buf, buf + sizeof buf, value);
        return std::string(buf, res.ptr);
    }
    // Scientific form of the shortest round-trip digits: "-d.ddde+XX".
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    const std::size_t e = sci.find('e');
    std::string_view mantissa = sci.substr(0, e);
    const bool negative = !mantissa.empty() && mantissa.front() == '-';
    if (negative) mantissa.remove_prefix(1);
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') digits += c;
    }
    const int exp10 = std::atoi(std::string(sci.substr(e + 1)).c_str());

    std::string out;
    if (negative) out += '-';
    if (exp10 >= -5 && exp10 <= 15) {
        if (exp10 >= 0) {
            const std::size_t int_len = static_cast<std::size_t>(exp10) + 1;
            if (digits.size() <= int_len) {
                out += digits;
                out.append(int_len - digits.size(), '0');
                out += ".0";
            } else {
                out.append(digits, 0, int_len);
                out += '.';
                out.append(digits, int_len, std::string::npos);
            }
        } else {
            out += "0.";
            out.append(static_cast<std::size_t>(-exp10 - 1), '0');
            out += digits;
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        out += 'e';
        out += exp10 < 0 ? '-' : '+';
        out += std::to_string(exp10 < 0 ? -exp10 : exp10);
    }
    return out;
}

void append_shown_string(std::string_view decoded, std::string& out) {
    out += "string ";
    append_quoted_text(decoded, out);
}

void append_quoted_text(std::string_view decoded, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t pos = 0;
    while (pos < decoded.size()) {
        const std::size_t start = pos;
        const std::optional<char32_t> next = utf8_next(decoded, pos);
        // The reader only yields valid UTF-8; a stray byte is shown as the replacement character.
        const char32_t c = next ? *next : U'\uFFFD';
        if (!next) ++pos;
        switch (c) {
            case U'"': out += "\\\""; continue;
            case U'\\': out += "\\\\"; continue;
            case U'\t': out += "\\t"; continue;
            case U'\r': out += "\\r"; continue;
            case U'\n': out += "\\n"; continue;
            case U'\0': out += "\\0"; continue;
            default: break;
        }
        if (is_escaped_when_shown(c)) {
            out += "\\u{";
            char digits[8];
            int n = 0;
            std::uint32_t v = static_cast<std::uint32_t>(c);
            do {
                digits[n++] = kHex[v & 0xF];
                v >>= 4;
            } while (v != 0);
            while (n > 0) out += digits[--n];
            out += '}';
        } else if (next) {
            out.append(decoded, start, pos - start);
        } else {
            utf8_append(c, out);
        }
    }
    out += '"';
}

void append_shown_unsigned(std::uint64_t value, std::string& out) {
    out += "integer `";
    out += std::to_string(value);
    out += '`';
}

void append_shown_signed(std::int64_t value, std::string& out) {
    out += "integer `";
    out += std::to_string(value);
    out += '`';
}

void append_shown_float(double value, std::string& out) {
    out += "floating point `";
    out += float_text(value);
    out += '`';
}

std::string invalid_type(std::string_view shown, std::string_view expected) {
    std::string out = "invalid type: ";
    out += shown;
    out += ", expected ";
    out += expected;
    return out;
}

std::string invalid_value(std::string_view shown, std::string_view expected) {
    std::string out = "invalid value: ";
    out += shown;
    out += ", expected ";
    out += expected;
    return out;
}

std::string missing_field(std::string_view name) {
    std::string out = "missing field `";
    out += name;
    out += '`';
    return out;
}

std::string duplicate_field(std::string_view name) {
    std::string out = "duplicate field `";
    out += name;
    out += '`';
    return out;
}

std::string invalid_length(std::size_t length, std::string_view expected) {
    std::string out = "invalid length ";
    out += std::to_string(length);
    out += ", expected ";
    out += expected;
    return out;
}

std::string elements_in_sequence(std::size_t count) {
    if (count == 1) return "1 element in sequence";
    return std::to_string(count) + " elements in sequence";
}

std::string unknown_variant(std::string_view given, std::span<const std::string_view> names) {
    std::string out = "unknown variant `";
    out += given;
    out += "`, expected ";
    if (names.empty()) {
        out += "there are no variants";
        return out;
    }
    if (names.size() == 1) {
        out += '`';
        out += names[0];
        out += '`';
    } else if (names.size() == 2) {
        out += '`';
        out += names[0];
        out += "` or `";
        out += names[1];
        out += '`';
    } else {
        out += "one of ";
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i != 0) out += ", ";
            out += '`';
            out += names[i];
            out += '`';
        }
    }
    return out;
}

}  // namespace tessel
