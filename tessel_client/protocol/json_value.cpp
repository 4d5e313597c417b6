// The compact JSON value of message tags: reader and writer.
#include "tessel_client/protocol/json_value.hpp"

#include "tessel_client/protocol/utf8.hpp"

namespace tessel {
namespace {

bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void skip_ws(JsonCursor& r) {
    while (r.pos < r.text.size() && is_ws(r.text[r.pos])) ++r.pos;
}

bool at(const JsonCursor& r, char c) { return r.pos < r.text.size() && r.text[r.pos] == c; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::optional<JsonValue> parse_literal(JsonCursor& r, std::string_view word, JsonValue value) {
    if (r.text.substr(r.pos, word.size()) != word) return std::nullopt;
    r.pos += word.size();
    return value;
}

// Only the integer part counts; a fraction and an exponent are read past and dropped.
std::optional<JsonValue> parse_number(JsonCursor& r) {
    const std::string_view t = r.text;
    const bool negative = at(r, '-');
    if (negative) ++r.pos;
    if (r.pos >= t.size() || !is_digit(t[r.pos])) return std::nullopt;
    // Magnitude limit: 2^63 for a negative number, 2^63 - 1 otherwise.
    const std::uint64_t limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    while (r.pos < t.size() && is_digit(t[r.pos])) {
        const auto digit = static_cast<std::uint64_t>(t[r.pos] - '0');
        if (magnitude > (limit - digit) / 10) overflow = true;
        if (!overflow) magnitude = magnitude * 10 + digit;
        ++r.pos;
    }
    if (overflow) return std::nullopt;
    if (at(r, '.')) {
        ++r.pos;
        while (r.pos < t.size() && is_digit(t[r.pos])) ++r.pos;
    }
    if (at(r, 'e') || at(r, 'E')) {
        ++r.pos;
        if (at(r, '+') || at(r, '-')) ++r.pos;
        while (r.pos < t.size() && is_digit(t[r.pos])) ++r.pos;
    }
    const std::int64_t value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return JsonValue(value);
}

// Holds the nesting depth for the length of one array or object.
struct DepthGuard {
    JsonCursor& r;
    bool ok;
    explicit DepthGuard(JsonCursor& cursor) : r(cursor), ok(++cursor.depth <= JsonCursor::kMaxDepth) {}
    ~DepthGuard() { --r.depth; }
};

std::optional<JsonValue> parse_array(JsonCursor& r) {
    DepthGuard guard(r);
    if (!guard.ok) return std::nullopt;
    ++r.pos;  // "["
    JsonValue::Array items;
    skip_ws(r);
    if (at(r, ']')) {
        ++r.pos;
        return JsonValue(std::move(items));
    }
    for (;;) {
        auto item = parse_json_value(r);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
        skip_ws(r);
        if (at(r, ',')) {
            ++r.pos;
            continue;
        }
        if (at(r, ']')) {
            ++r.pos;
            return JsonValue(std::move(items));
        }
        return std::nullopt;
    }
}

std::optional<JsonValue> parse_object(JsonCursor& r) {
    DepthGuard guard(r);
    if (!guard.ok) return std::nullopt;
    ++r.pos;  // "{"
    JsonValue::Object pairs;
    skip_ws(r);
    if (at(r, '}')) {
        ++r.pos;
        return JsonValue(std::move(pairs));
    }
    for (;;) {
        skip_ws(r);
        auto key = parse_json_string(r);
        if (!key) return std::nullopt;
        skip_ws(r);
        if (!at(r, ':')) return std::nullopt;
        ++r.pos;
        auto value = parse_json_value(r);
        if (!value) return std::nullopt;
        pairs.emplace_back(std::move(*key), std::move(*value));
        skip_ws(r);
        if (at(r, ',')) {
            ++r.pos;
            continue;
        }
        if (at(r, '}')) {
            ++r.pos;
            return JsonValue(std::move(pairs));
        }
        return std::nullopt;
    }
}

}  // namespace

const JsonValue* JsonValue::get(std::string_view key) const {
    const Object* pairs = as_object();
    if (pairs == nullptr) return nullptr;
    for (const auto& [k, v] : *pairs) {
        if (k == key) return &v;
    }
    return nullptr;
}

std::optional<std::uint16_t> parse_json_hex4(JsonCursor& r) {
    if (r.text.size() - r.pos < 4) return std::nullopt;
    std::uint16_t unit = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = r.text[r.pos + static_cast<std::size_t>(i)];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        unit = static_cast<std::uint16_t>(unit * 16 + digit);
    }
    r.pos += 4;
    return unit;
}

std::optional<std::string> parse_json_string(JsonCursor& r) {
    if (!at(r, '"')) return std::nullopt;
    ++r.pos;
    const std::string_view t = r.text;
    std::string out;
    for (;;) {
        // Copy the run up to the next quote or backslash in one piece.
        std::size_t end = r.pos;
        while (end < t.size() && t[end] != '"' && t[end] != '\\') ++end;
        if (end >= t.size()) return std::nullopt;
        const std::string_view run = t.substr(r.pos, end - r.pos);
        if (!utf8_valid(run)) return std::nullopt;
        out.append(run);
        r.pos = end + 1;
        if (t[end] == '"') return out;
        if (r.pos >= t.size()) return std::nullopt;
        const char esc = t[r.pos++];
        switch (esc) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '/': out.push_back('/'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                const auto unit = parse_json_hex4(r);
                if (!unit) return std::nullopt;
                char32_t cp = *unit;
                if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (t.substr(r.pos, 2) != "\\u") return std::nullopt;
                    r.pos += 2;
                    const auto low = parse_json_hex4(r);
                    if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
                    cp = 0x10000 + (cp - 0xD800) * 0x400 + (*low - 0xDC00);
                }
                utf8_append(cp, out);
                break;
            }
            default: return std::nullopt;
        }
    }
}

std::optional<JsonValue> parse_json_value(JsonCursor& r) {
    skip_ws(r);
    if (r.pos >= r.text.size()) return std::nullopt;
    switch (r.text[r.pos]) {
        case 'n': return parse_literal(r, "null", JsonValue());
        case 't': return parse_literal(r, "true", JsonValue(true));
        case 'f': return parse_literal(r, "false", JsonValue(false));
        case '"': {
            auto s = parse_json_string(r);
            if (!s) return std::nullopt;
            return JsonValue(std::move(*s));
        }
        case '[': return parse_array(r);
        case '{': return parse_object(r);
        default:
            if (r.text[r.pos] == '-' || is_digit(r.text[r.pos])) return parse_number(r);
            return std::nullopt;
    }
}

std::optional<JsonValue> parse_json_text(std::string_view text) {
    JsonCursor r{text};
    auto value = parse_json_value(r);
    if (!value) return std::nullopt;
    skip_ws(r);
    if (r.pos != text.size()) return std::nullopt;
    return value;
}

void write_json_string(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (c) {
            case '\t': out.append("\\t"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            default:
                out.append("\\u00");
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
                break;
        }
    }
    out.append(text.data() + run, text.size() - run);
    out.push_back('"');
}

void JsonValue::write(std::string& out) const {
    struct Writer {
        std::string& out;
        void operator()(const Null&) const { out.append("null"); }
        void operator()(bool b) const { out.append(b ? "true" : "false"); }
        void operator()(std::int64_t n) const { out.append(std::to_string(n)); }
        void operator()(const std::string& s) const { write_json_string(s, out); }
        void operator()(const Array& items) const {
            out.push_back('[');
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (i) out.push_back(',');
                items[i].write(out);
            }
            out.push_back(']');
        }
        void operator()(const Object& pairs) const {
            out.push_back('{');
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                if (i) out.push_back(',');
                write_json_string(pairs[i].first, out);
                out.push_back(':');
                pairs[i].second.write(out);
            }
            out.push_back('}');
        }
    };
    std::visit(Writer{out}, value);
}

}  // namespace tessel
