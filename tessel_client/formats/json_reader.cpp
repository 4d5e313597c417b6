#include "tessel_client/formats/json_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "tessel_client/formats/json_messages.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bytes that end the plain run of a string: the quote, the backslash, control characters.
constexpr std::array<bool, 256> kStringStop = [] {
    std::array<bool, 256> t{};
    for (int i = 0; i < 0x20; ++i) t[i] = true;
    t['"'] = true;
    t['\\'] = true;
    return t;
}();

// The doubles nearest to 1e0 ... 1e308.
const std::array<double, 309>& powers_of_ten() {
    static const std::array<double, 309> table = [] {
        std::array<double, 309> t{};
        for (int k = 0; k <= 308; ++k) {
            const std::string text = "1e" + std::to_string(k);
            std::from_chars(text.data(), text.data() + text.size(), t[k]);
        }
        return t;
    }();
    return table;
}

// The significand as the nearest double, scaled by 10^exponent with the double nearest to
// each power; nothing when the result is too large for a double.
std::optional<double> scale(std::uint64_t significand, std::int64_t exponent) {
    const auto& pow10 = powers_of_ten();
    double f = static_cast<double>(significand);
    for (;;) {
        const std::int64_t magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude <= 308) {
            if (exponent >= 0) {
                f *= pow10[static_cast<std::size_t>(magnitude)];
                if (std::isinf(f)) return std::nullopt;
            } else {
                f /= pow10[static_cast<std::size_t>(magnitude)];
            }
            return f;
        }
        if (f == 0.0) return f;
        if (exponent >= 0) return std::nullopt;
        f /= 1e308;
        exponent += 308;
    }
}

std::string shown_number(const JsonNumber& n) {
    std::string out;
    switch (n.kind) {
        case JsonNumber::Kind::Unsigned: append_shown_unsigned(n.u, out); break;
        case JsonNumber::Kind::Negative: append_shown_signed(n.i, out); break;
        case JsonNumber::Kind::Float: append_shown_float(n.f, out); break;
    }
    return out;
}

}  // namespace

// ---- failure -----------------------------------------------------------------------------

bool JsonReader::fail_at(std::string message, std::size_t point) {
    if (!failed_) {
        failed_ = true;
        positioned_ = true;
        point_ = std::min(point, text.size());
        message_ = std::move(message);
    }
    return false;
}

bool JsonReader::fail_unpositioned(std::string message) {
    if (!failed_) {
        failed_ = true;
        positioned_ = false;
        message_ = std::move(message);
    }
    return false;
}

void JsonReader::give_up(char closer) {
    if (!failed_ || positioned_) return;
    if (peek_ws() == static_cast<unsigned char>(closer)) ++index;
    positioned_ = true;
    point_ = index;
}

JsonReadError JsonReader::error() const {
    JsonReadError e;
    e.message = message_;
    if (failed_ && positioned_) {
        const std::string_view before = text.substr(0, point_);
        e.line = 1 + static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n'));
        const std::size_t last_lf = before.rfind('\n');
        e.column = last_lf == std::string_view::npos ? point_ : point_ - last_lf - 1;
    }
    return e;
}

// ---- grammar -----------------------------------------------------------------------------

int JsonReader::peek_ws() {
    const std::size_t n = text.size();
    while (index < n) {
        const char c = text[index];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return static_cast<unsigned char>(c);
        ++index;
    }
    return -1;
}

bool JsonReader::read_literal(std::string_view word) {
    ++index;  // the first letter was seen by the caller
    for (std::size_t k = 1; k < word.size(); ++k) {
        if (index >= text.size()) return fail_here("EOF while parsing a value");
        if (text[index++] != word[k]) return fail_here("expected ident");
    }
    return true;
}

bool JsonReader::read_hex4(std::uint16_t& out) {
    if (text.size() - index < 4) {
        index = text.size();
        return fail_here("EOF while parsing a string");
    }
    unsigned v = 0;
    bool good = true;
    for (int k = 0; k < 4; ++k) {
        const int h = hex_value(text[index + k]);
        if (h < 0) good = false;
        v = (v << 4) | static_cast<unsigned>(h < 0 ? 0 : h);
    }
    index += 4;
    if (!good) return fail_here("invalid escape");
    out = static_cast<std::uint16_t>(v);
    return true;
}

bool JsonReader::read_escape(bool decode) {
    if (index >= text.size()) return fail_here("EOF while parsing a string");
    const char c = text[index++];
    char plain = 0;
    switch (c) {
        case '"': plain = '"'; break;
        case '\\': plain = '\\'; break;
        case '/': plain = '/'; break;
        case 'b': plain = '\b'; break;
        case 'f': plain = '\f'; break;
        case 'n': plain = '\n'; break;
        case 'r': plain = '\r'; break;
        case 't': plain = '\t'; break;
        case 'u': {
            std::uint16_t n = 0;
            if (!read_hex4(n)) return false;
            // Only the four digits count when the string is being skipped.
            if (!decode) return true;
            if (n >= 0xDC00 && n <= 0xDFFF) return fail_here("lone leading surrogate in hex escape");
            if (n < 0xD800 || n > 0xDBFF) {
                utf8_append(n, scratch);
                return true;
            }
            if (index >= text.size()) return fail_here("EOF while parsing a string");
            if (text[index++] != '\\') return fail_here("unexpected end of hex escape");
            if (index >= text.size()) return fail_here("EOF while parsing a string");
            if (text[index++] != 'u') return fail_here("unexpected end of hex escape");
            std::uint16_t low = 0;
            if (!read_hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return fail_here("lone leading surrogate in hex escape");
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(n) - 0xD800) << 10) + (low - 0xDC00);
            utf8_append(cp, scratch);
            return true;
        }
        default: return fail_here("invalid escape");
    }
    if (decode) scratch += plain;
    return true;
}

bool JsonReader::scan_string(bool decode, std::string_view* out) {
    ++index;  // opening quote
    const std::size_t n = text.size();
    std::size_t start = index;
    bool copied = false;
    for (;;) {
        while (index < n && !kStringStop[static_cast<unsigned char>(text[index])]) ++index;
        if (index >= n) return fail_here("EOF while parsing a string");
        const char c = text[index];
        if (c == '"') {
            if (out != nullptr) {
                if (copied) {
                    scratch.append(text.data() + start, index - start);
                    *out = scratch;
                } else {
                    *out = text.substr(start, index - start);
                }
            }
            ++index;
            return true;
        }
        if (c == '\\') {
            if (decode) {
                if (!copied) {
                    scratch.clear();
                    copied = true;
                }
                scratch.append(text.data() + start, index - start);
            }
            ++index;
            if (!read_escape(decode)) return false;
            start = index;
            continue;
        }
        ++index;
        return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
    }
}

bool JsonReader::read_string(std::string_view& out) { return scan_string(true, &out); }

bool JsonReader::scan_number(JsonNumber* out) {
    const std::size_t n = text.size();
    bool negative = false;
    if (text[index] == '-') {
        negative = true;
        ++index;
    }
    if (index >= n) return fail_here("EOF while parsing a value");
    std::uint64_t significand = 0;
    std::int64_t exponent = 0;
    bool is_float = false;
    // Set once a digit no longer fits the significand; every later digit is then dropped
    // (or, in the integer part, only raises the power of ten).
    bool overflowed = false;
    const char first = text[index];
    if (first == '0') {
        ++index;
        if (index < n && is_digit(text[index])) return fail_peek("invalid number");
    } else if (first >= '1' && first <= '9') {
        significand = static_cast<std::uint64_t>(first - '0');
        ++index;
        while (index < n && is_digit(text[index])) {
            const auto d = static_cast<std::uint64_t>(text[index] - '0');
            // Once a digit does not fit, every further digit of the integer part is a power of ten.
            if (!overflowed && (significand > kU64Max / 10 || (significand == kU64Max / 10 && d > kU64Max % 10)))
                overflowed = true;
            if (overflowed)
                ++exponent;
            else
                significand = significand * 10 + d;
            ++index;
        }
        is_float = overflowed;
    } else {
        return fail_peek("invalid number");
    }
    if (index < n && text[index] == '.') {
        ++index;
        if (index >= n) return fail_here("EOF while parsing a value");
        if (!is_digit(text[index])) return fail_peek("invalid number");
        is_float = true;
        while (index < n && is_digit(text[index])) {
            const auto d = static_cast<std::uint64_t>(text[index] - '0');
            if (!overflowed && (significand > kU64Max / 10 || (significand == kU64Max / 10 && d > kU64Max % 10)))
                overflowed = true;
            if (!overflowed) {
                significand = significand * 10 + d;
                --exponent;
            }
            ++index;
        }
    }
    if (index < n && (text[index] == 'e' || text[index] == 'E')) {
        ++index;
        bool exp_negative = false;
        if (index < n && (text[index] == '+' || text[index] == '-')) {
            exp_negative = text[index] == '-';
            ++index;
        }
        if (index >= n) return fail_here("EOF while parsing a value");
        if (!is_digit(text[index])) return fail_peek("invalid number");
        is_float = true;
        std::int64_t e = 0;
        while (index < n && is_digit(text[index])) {
            if (e < 1'000'000'000'000) e = e * 10 + (text[index] - '0');  // beyond that, all the same
            ++index;
        }
        exponent += exp_negative ? -e : e;
    }
    if (out == nullptr) return true;
    if (!is_float) {
        if (!negative) {
            out->kind = JsonNumber::Kind::Unsigned;
            out->u = significand;
        } else if (significand == 0 || significand > (std::uint64_t{1} << 63)) {
            // -0 and integers below the signed range are floating point.
            out->kind = JsonNumber::Kind::Float;
            out->f = -static_cast<double>(significand);
        } else {
            out->kind = JsonNumber::Kind::Negative;
            out->i = static_cast<std::int64_t>(~significand + 1);
        }
        return true;
    }
    const std::optional<double> f = scale(significand, exponent);
    if (!f) return fail_here("number out of range");
    out->kind = JsonNumber::Kind::Float;
    out->f = negative ? -*f : *f;
    return true;
}

bool JsonReader::read_number(JsonNumber& out) { return scan_number(&out); }

bool JsonReader::open() {
    if (depth_budget <= 1) return fail_peek("recursion limit exceeded");
    --depth_budget;
    ++index;
    return true;
}

void JsonReader::close() {
    ++index;
    ++depth_budget;
}

JsonReader::Step JsonReader::next_element(bool& first) {
    int c = peek_ws();
    if (c < 0) {
        fail_peek("EOF while parsing a list");
        return Step::Failed;
    }
    if (c == ']') return Step::End;
    if (first) {
        first = false;
        return Step::Item;
    }
    if (c != ',') {
        fail_peek("expected `,` or `]`");
        return Step::Failed;
    }
    ++index;
    c = peek_ws();
    if (c == ']') {
        fail_peek("trailing comma");
        return Step::Failed;
    }
    if (c < 0) {
        fail_peek("EOF while parsing a value");
        return Step::Failed;
    }
    return Step::Item;
}

JsonReader::Step JsonReader::next_member(bool& first) {
    int c = peek_ws();
    if (c < 0) {
        fail_peek("EOF while parsing an object");
        return Step::Failed;
    }
    if (c == '}') return Step::End;
    if (!first) {
        if (c != ',') {
            fail_peek("expected `,` or `}`");
            return Step::Failed;
        }
        ++index;
        c = peek_ws();
    }
    first = false;
    if (c == '"') return Step::Item;
    if (c == '}')
        fail_peek("trailing comma");
    else if (c < 0)
        fail_peek("EOF while parsing a value");
    else
        fail_peek("key must be a string");
    return Step::Failed;
}

bool JsonReader::expect_colon() {
    const int c = peek_ws();
    if (c == ':') {
        ++index;
        return true;
    }
    if (c < 0) return fail_peek("EOF while parsing an object");
    return fail_peek("expected `:`");
}

// ---- values ------------------------------------------------------------------------------

bool JsonReader::read_content(JsonContent& out) {
    const int c = peek_ws();
    switch (c) {
        case -1: return fail_peek("EOF while parsing a value");
        case '"': {
            std::string_view s;
            if (!read_string(s)) return false;
            out.value.emplace<std::string>(s);
            return true;
        }
        case 'n':
            out.value.emplace<JsonContent::Null>();
            return read_literal("null");
        case 't':
            out.value.emplace<bool>(true);
            return read_literal("true");
        case 'f':
            out.value.emplace<bool>(false);
            return read_literal("false");
        case '[': {
            if (!open()) return false;
            auto& items = out.value.emplace<JsonContent::Array>();
            bool first = true;
            for (;;) {
                const Step s = next_element(first);
                if (s == Step::Failed) return false;
                if (s == Step::End) break;
                // Small arrays are the rule: start with room for a few instead of one.
                if (items.empty()) items.reserve(4);
                items.emplace_back();
                if (!read_content(items.back())) return false;
            }
            close();
            return true;
        }
        case '{': {
            if (!open()) return false;
            auto& members = out.value.emplace<JsonContent::Object>();
            bool first = true;
            for (;;) {
                const Step s = next_member(first);
                if (s == Step::Failed) return false;
                if (s == Step::End) break;
                std::string_view key;
                if (!read_string(key)) return false;
                if (members.empty()) members.reserve(4);
                members.emplace_back(std::string(key), JsonContent{});
                if (!expect_colon() || !read_content(members.back().second)) return false;
            }
            close();
            return true;
        }
        default: break;
    }
    if (c == '-' || is_digit(static_cast<char>(c))) {
        JsonNumber num;
        if (!read_number(num)) return false;
        switch (num.kind) {
            case JsonNumber::Kind::Unsigned: out.value.emplace<std::uint64_t>(num.u); break;
            case JsonNumber::Kind::Negative: out.value.emplace<std::int64_t>(num.i); break;
            case JsonNumber::Kind::Float: out.value.emplace<double>(num.f); break;
        }
        return true;
    }
    return fail_peek("expected value");
}

bool JsonReader::skip_value() {
    // The open brackets live in `scratch`, so the depth is bounded only by the text.
    scratch.clear();
    enum class State { Value, Key, After };
    State state = State::Value;
    for (;;) {
        if (state == State::Value) {
            const int c = peek_ws();
            switch (c) {
                case -1: return fail_peek("EOF while parsing a value");
                case 'n':
                    if (!read_literal("null")) return false;
                    break;
                case 't':
                    if (!read_literal("true")) return false;
                    break;
                case 'f':
                    if (!read_literal("false")) return false;
                    break;
                case '"':
                    if (!scan_string(false, nullptr)) return false;
                    break;
                case '[':
                case '{': {
                    ++index;
                    const int next = peek_ws();
                    const char closer = c == '[' ? ']' : '}';
                    if (next == closer) {
                        ++index;
                        break;
                    }
                    if (next < 0) return fail_peek(c == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
                    scratch += static_cast<char>(c);
                    if (c == '[') continue;
                    state = State::Key;
                    continue;
                }
                default:
                    if (c == '-' || is_digit(static_cast<char>(c))) {
                        if (!scan_number(nullptr)) return false;
                        break;
                    }
                    return fail_peek("expected value");
            }
            state = State::After;
        }
        if (state == State::Key) {
            const int c = peek_ws();
            if (c != '"') {
                if (c < 0) return fail_peek("EOF while parsing a value");
                return fail_peek("key must be a string");
            }
            if (!scan_string(false, nullptr) || !expect_colon()) return false;
            state = State::Value;
            continue;
        }
        // After a value: close brackets until one wants another element.
        for (;;) {
            if (scratch.empty()) return true;
            const char top = scratch.back();
            const int c = peek_ws();
            if (top == '[') {
                if (c < 0) return fail_peek("EOF while parsing a list");
                if (c == ']') {
                    ++index;
                    scratch.pop_back();
                    continue;
                }
                if (c != ',') return fail_peek("expected `,` or `]`");
                ++index;
                const int next = peek_ws();
                if (next == ']') return fail_peek("trailing comma");
                if (next < 0) return fail_peek("EOF while parsing a value");
                state = State::Value;
            } else {
                if (c < 0) return fail_peek("EOF while parsing an object");
                if (c == '}') {
                    ++index;
                    scratch.pop_back();
                    continue;
                }
                if (c != ',') return fail_peek("expected `,` or `}`");
                ++index;
                const int next = peek_ws();
                if (next == '}') return fail_peek("trailing comma");
                if (next < 0) return fail_peek("EOF while parsing a value");
                state = State::Key;
            }
            break;
        }
    }
}

bool JsonReader::fail_invalid_type(std::string_view expected) {
    const int c = peek_ws();
    std::string shown;
    switch (c) {
        case -1: return fail_peek("EOF while parsing a value");
        case 'n':
            if (!read_literal("null")) return false;
            shown = "null";
            break;
        case 't':
            if (!read_literal("true")) return false;
            shown = "boolean `true`";
            break;
        case 'f':
            if (!read_literal("false")) return false;
            shown = "boolean `false`";
            break;
        case '"': {
            std::string_view s;
            if (!read_string(s)) return false;
            append_shown_string(s, shown);
            break;
        }
        case '[': shown = "sequence"; break;
        case '{': shown = "map"; break;
        default: {
            if (c != '-' && !is_digit(static_cast<char>(c))) return fail_peek("expected value");
            JsonNumber num;
            if (!read_number(num)) return false;
            shown = shown_number(num);
            break;
        }
    }
    return fail_here(invalid_type(shown, expected));
}

bool JsonReader::read_text(std::string& out) {
    const int c = peek_ws();
    if (c != '"') return fail_invalid_type("a string");
    std::string_view s;
    if (!read_string(s)) return false;
    out.assign(s);
    return true;
}

bool JsonReader::take_null(bool& was_null) {
    was_null = peek_ws() == 'n';
    return !was_null || read_literal("null");
}

bool JsonReader::read_optional_text(std::optional<std::string>& out) {
    bool was_null = false;
    if (!take_null(was_null)) return false;
    if (was_null) {
        out.reset();
        return true;
    }
    std::string s;
    if (!read_text(s)) return false;
    out = std::move(s);
    return true;
}

bool JsonReader::read_unsigned(std::uint64_t max, std::string_view expected, std::uint64_t& out) {
    const int c = peek_ws();
    if (c != '-' && (c < 0 || !is_digit(static_cast<char>(c)))) return fail_invalid_type(expected);
    JsonNumber num;
    if (!read_number(num)) return false;
    if (num.kind == JsonNumber::Kind::Float) return fail_here(invalid_type(shown_number(num), expected));
    if (num.kind == JsonNumber::Kind::Negative || num.u > max)
        return fail_here(invalid_value(shown_number(num), expected));
    out = num.u;
    return true;
}

bool JsonReader::read_text_list(std::vector<std::string>& out) {
    if (peek_ws() != '[') return fail_invalid_type("a sequence");
    if (!open()) return false;
    out.clear();
    bool first = true;
    for (;;) {
        const Step s = next_element(first);
        if (s == Step::Failed) return false;
        if (s == Step::End) break;
        out.emplace_back();
        if (!read_text(out.back())) return false;
    }
    close();
    return true;
}

bool JsonReader::read_tag(std::span<const std::string_view> words, std::size_t& variant) {
    if (peek_ws() != '"') return fail_invalid_type("variant identifier");
    std::string_view word;
    if (!read_string(word)) return false;
    const auto it = std::find(words.begin(), words.end(), word);
    if (it == words.end()) return fail_here(unknown_variant(word, words));
    variant = static_cast<std::size_t>(it - words.begin());
    return true;
}

bool JsonReader::read_tagged(std::string_view expecting, std::string_view tag_key,
                             std::span<const std::string_view> words, TaggedContent& out) {
    const int c = peek_ws();
    if (c == '{') {
        if (!open()) return false;
        auto& kept = out.kept.value.emplace<JsonContent::Object>();
        bool have_tag = false;
        bool first = true;
        for (;;) {
            const Step s = next_member(first);
            if (s == Step::Failed) return false;
            if (s == Step::End) break;
            std::string_view key;
            if (!read_string(key)) return false;
            if (key == tag_key) {
                if (have_tag) {
                    fail_unpositioned(duplicate_field(tag_key));
                    give_up('}');
                    return false;
                }
                if (!expect_colon() || !read_tag(words, out.variant)) return false;
                have_tag = true;
                continue;
            }
            kept.emplace_back(std::string(key), JsonContent{});
            if (!expect_colon() || !read_content(kept.back().second)) return false;
        }
        if (!have_tag) {
            fail_unpositioned(missing_field(tag_key));
            give_up('}');
            return false;
        }
        close();
        return true;
    }
    if (c == '[') {
        if (!open()) return false;
        bool first = true;
        Step s = next_element(first);
        if (s == Step::Failed) return false;
        if (s == Step::End) {
            fail_unpositioned(missing_field(tag_key));
            give_up(']');
            return false;
        }
        if (!read_tag(words, out.variant)) return false;
        auto& kept = out.kept.value.emplace<JsonContent::Array>();
        for (;;) {
            s = next_element(first);
            if (s == Step::Failed) return false;
            if (s == Step::End) break;
            kept.emplace_back();
            if (!read_content(kept.back())) return false;
        }
        close();
        return true;
    }
    return fail_invalid_type(expecting);
}

bool JsonReader::finish() {
    if (peek_ws() >= 0) return fail_peek("trailing characters");
    return true;
}

}  // namespace tessel
