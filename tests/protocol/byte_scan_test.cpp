#include <gtest/gtest.h>

#include "tessel_client/protocol/byte_scan.hpp"

namespace tessel {
namespace {

// The block searches must find the first match at every offset and length (short texts, whole
// blocks, an overlapping last block), also next to bytes that could upset the bit tricks
// (0x00, 0x01, 0x80, 0xFF, the bytes beside ";").
TEST(ByteScan, FindsFirstMatchAtEveryOffset) {
    for (const char filler : {'x', '\x00', '\x01', '\x80', '\xff', ':', '<'}) {
        for (std::size_t len = 0; len <= 40; ++len) {
            const std::string none(len, filler);
            EXPECT_EQ(byte_scan::find(none, 0, ';'), len);
            EXPECT_EQ(byte_scan::find_either(none, 0, ';', '='), len);
            EXPECT_EQ(byte_scan::find(none, len + 1, ';'), len + 1);  // a start past the end comes back
            for (std::size_t at = 0; at < len; ++at) {
                std::string text = none;
                text[at] = ';';
                if (at + 1 < len) text[at + 1] = '=';
                SCOPED_TRACE(testing::Message() << "filler " << int(filler) << " len " << len << " at " << at);
                EXPECT_EQ(byte_scan::find(text, 0, ';'), at);
                EXPECT_EQ(byte_scan::find(text, at + 1, ';'), len);
                EXPECT_EQ(byte_scan::find_either(text, 0, '=', ';'), at);
            }
        }
    }
}

// Short texts are compared as overlapping words: a difference at any place and length must
// show, and a field is refilled exactly when its text differs.
TEST(ByteScan, SameBytesAndKeepOrCopy) {
    for (std::size_t len = 0; len <= 40; ++len) {
        const std::string a(len, 'k');
        EXPECT_TRUE(byte_scan::same_bytes(a.data(), std::string(a).data(), len)) << len;
        for (std::size_t at = 0; at < len; ++at) {
            std::string b = a;
            b[at] = '\x80';
            EXPECT_FALSE(byte_scan::same_bytes(a.data(), b.data(), len)) << len << " at " << at;
            std::string field = a;
            byte_scan::keep_or_copy(field, b);
            EXPECT_EQ(field, b);
        }
        std::string field = a + "x";
        byte_scan::keep_or_copy(field, a);
        EXPECT_EQ(field, a);
    }
}

TEST(ByteScan, ByteBelow) {
    for (int b = 0; b < 256; ++b) {
        for (int lane = 0; lane < 8; ++lane) {
            const std::uint64_t w = (0x4141414141414141ULL & ~(0xFFULL << (8 * lane))) |
                                    (static_cast<std::uint64_t>(b) << (8 * lane));
            EXPECT_EQ(byte_scan::has_byte_below(w, 0x0E), b < 0x0E) << b << " in lane " << lane;
        }
    }
}

}  // namespace
}  // namespace tessel
