#include "tessel_client/protocol/server_time.hpp"

#include <array>
#include <cstdio>

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

// The form nearly every server sends, "YYYY-MM-DDTHH:MM:SS.sssZ", read in place. Nothing
// when the text has another shape (the general reader then decides). Every stored message
// passes here, so the fields are read at their fixed places without a loop.
std::optional<std::uint64_t> parse_usual_form(std::string_view text) {
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || text[23] != 'Z') {
        return std::nullopt;
    }
    const char* t = text.data();
    unsigned d[24];
    unsigned bad = 0;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18, 20, 21, 22}) {
        d[i] = static_cast<unsigned>(static_cast<unsigned char>(t[i])) - '0';
        bad |= d[i] > 9 ? 1u : 0u;
    }
    if (bad) return std::nullopt;
    const std::int64_t year = d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3];
    const std::int64_t month = d[5] * 10 + d[6], day = d[8] * 10 + d[9];
    const std::int64_t hours = d[11] * 10 + d[12], minutes = d[14] * 10 + d[15], seconds = d[17] * 10 + d[18];
    const std::int64_t millis = d[20] * 100 + d[21] * 10 + d[22];
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hours > 23 || minutes > 59 || seconds > 60)
        return std::nullopt;
    return to_unix_ms(year, month, day, hours, minutes, seconds, millis);
}

}  // namespace

std::optional<std::uint64_t> parse_server_time(std::string_view text) {
    if (text.size() == 24) {
        if (auto usual = parse_usual_form(text)) return usual;
    }
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
