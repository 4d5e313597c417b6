#include "tessel_client/protocol/isupport.hpp"

#include <algorithm>
#include <tuple>

#include "tessel_client/protocol/utf8.hpp"

namespace tessel {
namespace {

constexpr std::size_t npos = std::string_view::npos;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<char32_t> characters(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) out.push_back(utf8_next_lossy(text, pos));
    return out;
}

}  // namespace

std::string unescape_isupport_value(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t esc = text.find("\\x", i);
        if (esc == npos) break;
        out.append(text.substr(i, esc - i));
        const int hi = esc + 2 < text.size() ? hex_digit(text[esc + 2]) : -1;
        const int lo = esc + 3 < text.size() ? hex_digit(text[esc + 3]) : -1;
        if (hi < 0 || lo < 0) {
            // Not an escape: keep the "\x" and go on right after it.
            out.append("\\x");
            i = esc + 2;
            continue;
        }
        utf8_append(static_cast<char32_t>(hi * 16 + lo), out);
        i = esc + 4;
    }
    out.append(text.substr(i));
    return out;
}

std::optional<std::pair<std::vector<char32_t>, std::vector<char32_t>>> parse_prefix_token(std::string_view value) {
    if (value.empty() || value.front() != '(') return std::nullopt;
    const std::size_t close = value.find(')', 1);
    if (close == npos) return std::nullopt;
    std::vector<char32_t> modes = characters(value.substr(1, close - 1));
    std::vector<char32_t> symbols = characters(value.substr(close + 1));
    if (modes.empty() || modes.size() != symbols.size()) return std::nullopt;
    return std::make_pair(std::move(modes), std::move(symbols));
}

ChanModeClasses split_chanmodes(std::string_view value) {
    ChanModeClasses classes;
    std::string* slots[] = {&classes.a, &classes.b, &classes.c, &classes.d};
    std::size_t start = 0;
    for (std::string* slot : slots) {
        const std::size_t comma = value.find(',', start);
        slot->assign(value.substr(start, comma == npos ? npos : comma - start));
        if (comma == npos) break;
        start = comma + 1;
    }
    return classes;
}

std::pair<std::vector<char32_t>, std::vector<char32_t>> default_prefix() { return {{U'o', U'v'}, {U'@', U'+'}}; }

ChanModeClasses default_chanmodes() { return {"b", "k", "l", "imnpst"}; }

void Isupport::update_derived(std::string_view name, const std::optional<std::string>& value) {
    if (name == "PREFIX") {
        if (!value) {
            std::tie(prefix_modes, prefix_symbols) = default_prefix();
        } else if (auto parsed = parse_prefix_token(*value)) {
            prefix_modes = std::move(parsed->first);
            prefix_symbols = std::move(parsed->second);
        }
    } else if (name == "CHANMODES") {
        ChanModeClasses classes = value ? split_chanmodes(*value) : default_chanmodes();
        chanmodes_a = std::move(classes.a);
        chanmodes_b = std::move(classes.b);
        chanmodes_c = std::move(classes.c);
        chanmodes_d = std::move(classes.d);
    } else if (name == "CHANTYPES") {
        chantypes = value.value_or(std::string());
    } else if (name == "STATUSMSG") {
        statusmsg = value.value_or(std::string());
    } else if (name == "CASEMAPPING") {
        if (value && *value == "ascii") {
            casemapping = CaseMapping::Ascii;
        } else if (value && *value == "rfc1459-strict") {
            casemapping = CaseMapping::Rfc1459Strict;
        } else {
            casemapping = CaseMapping::Rfc1459;
        }
    }
}

IsupportChange apply_isupport_token(Isupport& isupport, std::string_view token) {
    if (!token.empty() && token.front() == '-') {
        std::string_view name = token.substr(1);
        name = name.substr(0, name.find('='));
        if (auto it = isupport.tokens.find(name); it != isupport.tokens.end()) isupport.tokens.erase(it);
        isupport.update_derived(name, std::nullopt);
        return {std::string(name), std::nullopt, true};
    }

    const std::size_t eq = token.find('=');
    if (eq == npos) {
        isupport.tokens.insert_or_assign(std::string(token), std::nullopt);
        isupport.update_derived(token, std::nullopt);
        return {std::string(token), std::nullopt, false};
    }

    std::string_view name = token.substr(0, eq);
    std::string value;
    if (!name.empty() && name.back() == '+') {
        name.remove_suffix(1);
        if (auto it = isupport.tokens.find(name); it != isupport.tokens.end() && it->second) value = *it->second;
    }
    value += unescape_isupport_value(token.substr(eq + 1));
    std::optional<std::string> stored(std::move(value));
    isupport.tokens.insert_or_assign(std::string(name), stored);
    isupport.update_derived(name, stored);
    return {std::string(name), std::move(stored), false};
}

std::optional<std::uint32_t> Isupport::number(std::string_view name) const {
    const auto it = tokens.find(name);
    if (it == tokens.end() || !it->second) return std::nullopt;
    std::string_view digits = *it->second;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    std::uint64_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
        if (n > 0xFFFFFFFFULL) return std::nullopt;
    }
    return static_cast<std::uint32_t>(n);
}

bool Isupport::is_channel(std::string_view name) const {
    if (name.empty()) return false;
    std::size_t pos = 0;
    const char32_t first = utf8_next_lossy(name, pos);
    return utf8_contains(chantypes.empty() ? std::string_view("#&") : std::string_view(chantypes), first);
}

bool Isupport::is_statusmsg_char(char32_t c) const { return utf8_contains(statusmsg, c); }

bool Isupport::is_prefix_mode(char32_t c) const {
    return std::find(prefix_modes.begin(), prefix_modes.end(), c) != prefix_modes.end();
}

MemberPrefixes split_member_prefixes(const Isupport& isupport, std::string_view entry) {
    const auto& symbols = isupport.prefix_symbols;
    std::size_t pos = 0;
    while (pos < entry.size()) {
        std::size_t next = pos;
        const char32_t c = utf8_next_lossy(entry, next);
        if (std::find(symbols.begin(), symbols.end(), c) == symbols.end()) break;
        pos = next;
    }
    return {entry.substr(0, pos), entry.substr(pos)};
}

}  // namespace tessel
