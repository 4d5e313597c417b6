#include "tessel_client/protocol/server_time.hpp"

#include <array>
#include <cstdio>
#include <cstring>

namespace tessel {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// An unsigned decimal of any width with an optional leading "+", at most `max`.
std::optional<std::int64_t> read_number(std::string_view piece, std::int64_t max) {
    if (!piece.empty() && piece.front() == '+') piece.remove_prefix(1);
    if (piece.empty()) return std::nullopt;
    std::int64_t n = 0;
    for (const char c : piece) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
        if (n > max) return std::nullopt;  // also keeps the next step from overflowing
    }
    return n;
}

// Splits `text` at every `sep` into exactly N pieces; nothing for any other count.
template <std::size_t N>
std::optional<std::array<std::string_view, N>> split_exact(std::string_view text, char sep) {
    std::array<std::string_view, N> pieces;
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t at = text.find(sep);
        if (i + 1 == N) {
            if (at != npos) return std::nullopt;
            pieces[i] = text;
        } else {
            if (at == npos) return std::nullopt;
            pieces[i] = text.substr(0, at);
            text.remove_prefix(at + 1);
        }
    }
    return pieces;
}

bool mul_add(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t& out) {
    std::int64_t product;
    return !__builtin_mul_overflow(a, b, &product) && !__builtin_add_overflow(product, c, &out);
}

}  // namespace

std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = month > 2 ? month - 3 : month + 9;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

namespace {

std::optional<std::uint64_t> to_unix_ms(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hours,
                                        std::int64_t minutes, std::int64_t seconds, std::int64_t millis) {
    const std::int64_t days = days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    std::int64_t secs;
    std::int64_t ms;
    if (!mul_add(days, 86400, hours * 3600 + minutes * 60 + seconds, secs) || !mul_add(secs, 1000, millis, ms) ||
        ms < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(ms);
}

// Eight bytes of text as one word, the first byte lowest.
inline std::uint64_t load_le8(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap64(w);
#endif
    return w;
}

// A word with `byte` in each lane listed in `lanes` (one bit per lane), zero elsewhere.
constexpr std::uint64_t lanes_of(unsigned lanes, std::uint64_t byte) {
    std::uint64_t w = 0;
    for (unsigned i = 0; i < 8; ++i)
        if (lanes & (1u << i)) w |= byte << (8 * i);
    return w;
}

// Eight bytes of the usual form, with the bytes each lane must hold: a digit where `Digits`
// has the lane's bit, else the byte `Fixed` has in that lane. Returns the digit values
// (0-9) in the digit lanes and zero elsewhere; `bad` gets a bit when any lane is wrong.
template <unsigned Digits, std::uint64_t Fixed>
inline std::uint64_t digits_of(std::uint64_t w, std::uint64_t& bad) {
    // After the xor a digit lane holds 0-9 exactly when it held "0"-"9", a fixed lane 0 when
    // it held its byte. Adding 0x76 (digit) or 0x7F (fixed) sets a lane's high bit when it
    // holds more than that; a lane that starts at 0x80 or more is caught by its own high bit
    // (its carry may spoil the next lane, but the answer is "bad" either way).
    constexpr std::uint64_t kExpect = lanes_of(Digits, '0') | Fixed;
    constexpr std::uint64_t kAdd = lanes_of(Digits, 0x76) | lanes_of(~Digits & 0xFF, 0x7F);
    const std::uint64_t x = w ^ kExpect;
    bad |= x | (x + kAdd);
    return x;
}

// Lane k of the result is 10 * lane k + lane k+1: every two-digit number at once.
inline std::uint64_t pairs(std::uint64_t d) { return d * 10 + (d >> 8); }

inline unsigned lane(std::uint64_t w, unsigned k) { return static_cast<unsigned>(w >> (8 * k)) & 0xFF; }

// The form nearly every server sends, "YYYY-MM-DDTHH:MM:SS.sssZ" (24 bytes), read as three
// words. Nothing when the text has another shape (the general reader then decides). Every
// stored message passes here.
std::optional<std::uint64_t> parse_usual_form(const char* t) {
    std::uint64_t bad = 0;
    // "YYYY-MM-", "DDTHH:MM" and ":SS.sssZ".
    const std::uint64_t a = digits_of<0b01101111, lanes_of(0b10010000, '-')>(load_le8(t), bad);
    const std::uint64_t b =
        digits_of<0b11011011, (std::uint64_t{'T'} << 16) | (std::uint64_t{':'} << 40)>(load_le8(t + 8), bad);
    const std::uint64_t c =
        digits_of<0b01110110, std::uint64_t{':'} | (std::uint64_t{'.'} << 24) | (std::uint64_t{'Z'} << 56)>(
            load_le8(t + 16), bad);
    if (bad & 0x8080808080808080ULL) return std::nullopt;
    const std::uint64_t pa = pairs(a), pb = pairs(b), pc = pairs(c);
    const unsigned year = lane(pa, 0) * 100 + lane(pa, 2), month = lane(pa, 5);
    const unsigned day = lane(pb, 0), hours = lane(pb, 3), minutes = lane(pb, 6);
    const unsigned seconds = lane(pc, 1), millis = lane(pc, 4) * 10 + lane(c, 6);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hours > 23 || minutes > 59 || seconds > 60)
        return std::nullopt;
    // days_from_civil for years 1-9999, where nothing is negative before the last step and
    // nothing can overflow.
    const unsigned y = month <= 2 ? year - 1 : year;
    const unsigned era = y / 400, yoe = y % 400;
    const unsigned mp = month > 2 ? month - 3 : month + 9;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + (153 * mp + 2) / 5 + day - 1;
    const std::int64_t days = std::int64_t{era} * 146097 + doe - 719468;
    const std::int64_t ms = (days * 86400 + hours * 3600 + minutes * 60 + seconds) * 1000 + millis;
    if (ms < 0) return std::nullopt;
    return static_cast<std::uint64_t>(ms);
}

// Any other shape; kept out of line so the usual form's caller stays small.
[[gnu::noinline]] std::optional<std::uint64_t> parse_general_form(std::string_view text) {
    if (text.empty() || text.back() != 'Z') return std::nullopt;
    const std::size_t t = text.find('T');
    if (t == npos || t == text.size() - 1) return std::nullopt;
    const std::string_view date = text.substr(0, t);
    const std::string_view time = text.substr(t + 1, text.size() - t - 2);

    const auto ymd = split_exact<3>(date, '-');
    if (!ymd) return std::nullopt;
    const auto year = read_number((*ymd)[0], 9999);
    const auto month = read_number((*ymd)[1], 12);
    const auto day = read_number((*ymd)[2], 31);
    if (!year || *year < 1 || !month || *month < 1 || !day || *day < 1) return std::nullopt;

    const std::size_t dot = time.find('.');
    const std::string_view clock = time.substr(0, dot);
    const std::string_view fraction = dot == npos ? std::string_view("0") : time.substr(dot + 1);
    const auto hms = split_exact<3>(clock, ':');
    if (!hms) return std::nullopt;
    const auto hours = read_number((*hms)[0], 23);
    const auto minutes = read_number((*hms)[1], 59);
    const auto seconds = read_number((*hms)[2], 60);
    if (!hours || !minutes || !seconds || fraction.empty()) return std::nullopt;

    std::int64_t millis = 0;
    for (std::size_t i = 0; i < fraction.size(); ++i) {
        const char c = fraction[i];
        if (c < '0' || c > '9') return std::nullopt;
        if (i < 3) millis = millis * 10 + (c - '0');
    }
    for (std::size_t i = fraction.size(); i < 3; ++i) millis *= 10;

    return to_unix_ms(*year, *month, *day, *hours, *minutes, *seconds, millis);
}

}  // namespace

std::optional<std::uint64_t> parse_server_time(std::string_view text) {
    if (text.size() == 24) {
        if (auto usual = parse_usual_form(text.data())) return usual;
    }
    return parse_general_form(text);
}

std::string format_server_time(std::uint64_t ms) {
    const std::int64_t z = static_cast<std::int64_t>(ms / 86400000) + 719468;
    const std::int64_t era = z / 146097;  // z is never negative here
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);

    const std::uint64_t secs_of_day = (ms / 1000) % 86400;
    char buf[64];
    const int len = std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02llu:%02llu:%02llu.%03lluZ",
                                  static_cast<long long>(year), static_cast<long long>(month),
                                  static_cast<long long>(day),
                                  static_cast<unsigned long long>(secs_of_day / 3600),
                                  static_cast<unsigned long long>(secs_of_day / 60 % 60),
                                  static_cast<unsigned long long>(secs_of_day % 60),
                                  static_cast<unsigned long long>(ms % 1000));
    return std::string(buf, static_cast<std::size_t>(len));
}

}  // namespace tessel
