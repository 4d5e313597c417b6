#include <gtest/gtest.h>

#include "tessel_client/protocol/server_time.hpp"

namespace tessel {
namespace {

TEST(ServerTime, Parses) {
    struct Case {
        const char* text;
        std::uint64_t ms;
    };
    const Case cases[] = {
        {"2023-11-14T22:13:20.123Z", 1700000000123},
        {"2023-11-14T22:13:20Z", 1700000000000},
        {"2023-11-14T22:13:20.5Z", 1700000000500},
        {"2023-11-14T22:13:20.12Z", 1700000000120},
        {"2023-11-14T22:13:20.123456Z", 1700000000123},
        {"2023-11-14T22:13:20.999999Z", 1700000000999},
        {"2023-1-5T1:2:3Z", 1672880523000},
        {"+2023-+11-+14T+22:+13:+20Z", 1700000000000},
        {"02023-011-014T022:013:020Z", 1700000000000},
        {"2023-02-30T00:00:00Z", 1677715200000},  // runs on to March 2
        {"2024-02-30T00:00:00Z", 1709251200000},  // March 1 in a leap year
        {"2023-11-14T23:59:60Z", 1700006400000},
        {"1970-01-01T00:00:00Z", 0},
        {"9999-12-31T23:59:59.999Z", 253402300799999},
        // The usual 24-byte form at its edges.
        {"2023-11-14T23:59:60.000Z", 1700006400000},
        {"2024-02-30T00:00:00.001Z", 1709251200001},
        {"2023-11-14T22:13:20.000Z", 1700000000000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_server_time(c.text), c.ms) << c.text;
    }
}

TEST(ServerTime, Refuses) {
    for (const char* text : {
             "2023-11-14T22:13:20.Z", "2023-11-14T22:13:20.1aZ", "2023-11-14T22:13:20+00:00", "2023-11-14T22:13:20z",
             "2023-11-14 22:13:20Z", "2023-11-14T22:13Z", "2023-11-14T22:13:20:00Z", "2023-11T22:13:20Z",
             "2023-11-14-1T22:13:20Z", "2023-11-14T24:00:00Z", "2023-11-14T23:60:00Z", "2023-11-14T23:59:61Z",
             "2023-13-01T00:00:00Z", "2023-00-10T00:00:00Z", "2023-11-32T00:00:00Z", "2023-11-00T00:00:00Z",
             "0000-01-01T00:00:00Z", "10000-01-01T00:00:00Z", "1969-12-31T23:59:59Z", "2023--11-14T22:13:20Z",
             "2023-11-14T22: 13:20Z", "+-2023-11-14T22:13:20Z", "2023-11-14T22:13:20.-1Z",
             "99999999999999999999999-01-01T00:00:00Z", "", "Z", "TZ", "2023-11-14TZ",
             // the usual 24-byte shape with a value out of range or a stray byte
             "2023-11-14T24:00:00.000Z", "2023-11-14T23:60:00.000Z", "2023-11-14T23:59:61.000Z",
             "2023-13-01T00:00:00.000Z", "2023-00-10T00:00:00.000Z", "2023-11-32T00:00:00.000Z",
             "2023-11-00T00:00:00.000Z", "0000-01-01T00:00:00.000Z", "1969-12-31T23:59:59.999Z",
             "2023-11-14T22:13:20.1a0Z", "2023-11-14T22:13:2a.000Z", "2023-11-14T22:13:20.000z",
             "+023-11-14T22:13:20.123Z", "2023-11-14T22:13:20,000Z"}) {
        EXPECT_FALSE(parse_server_time(text)) << text;
    }
}

// The 24-byte form is read by word tricks; the same text with a fourth fraction digit goes
// the general way. Every single-byte change to a few such texts must give the same answer
// both ways, at every place and for every byte value.
TEST(ServerTime, UsualFormAgreesWithTheGeneralReader) {
    for (const std::string base : {"2023-11-14T22:13:20.123Z", "1970-01-01T00:00:00.000Z", "9999-12-31T23:59:60.999Z",
                                   "2024-02-29T09:09:09.909Z", "0001-10-10T19:50:59.090Z"}) {
        for (std::size_t at = 0; at < base.size(); ++at) {
            for (int b = 0; b < 256; ++b) {
                std::string text = base;
                text[at] = static_cast<char>(b);
                std::string longer = text;
                longer.insert(23, 1, '0');
                ASSERT_EQ(parse_server_time(text), parse_server_time(longer)) << text;
            }
        }
    }
}

TEST(ServerTime, Formats) {
    struct Case {
        std::uint64_t ms;
        const char* text;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {951782400000, "2000-02-29T00:00:00.000Z"},
        {1700000000123, "2023-11-14T22:13:20.123Z"},
        {253402300800000, "10000-01-01T00:00:00.000Z"},
        {18446744073709551615ULL, "584556019-04-03T14:25:51.615Z"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(format_server_time(c.ms), c.text) << c.ms;
    }
}

TEST(ServerTime, FormatThenParseGivesTheNumberBack) {
    // A stride that is prime and not a multiple of a day visits many dates and times.
    const std::uint64_t last = 253402300799999;
    for (std::uint64_t ms = 0; ms <= last; ms += 1234567890127ULL) {
        EXPECT_EQ(parse_server_time(format_server_time(ms)), ms) << ms;
    }
    EXPECT_EQ(parse_server_time(format_server_time(last)), last);
}

TEST(ServerTime, DaysFromCivil) {
    EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
    EXPECT_EQ(days_from_civil(1969, 12, 31), -1);
    EXPECT_EQ(days_from_civil(2000, 3, 1), 11017);
    EXPECT_EQ(days_from_civil(0, 3, 1), -719468);
    EXPECT_EQ(days_from_civil(-1, 12, 31), -719529);  // eras below year 0 are floored
}

}  // namespace
}  // namespace tessel
