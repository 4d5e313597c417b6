#include "tessel_client/engine/base64.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tessel {
namespace {

// RFC 4648 section 10.
TEST(Base64, Rfc4648VectorsBothWays) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},         {"f", "Zg=="},       {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(base64_encode(plain), encoded);
        EXPECT_EQ(base64_decode(encoded), plain) << encoded;
    }
}

TEST(Base64, EveryByteValueRoundTrips) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    for (std::size_t len = 0; len <= all.size(); len += 37) {
        const std::string part = all.substr(256 - len);  // NUL and high bytes included
        EXPECT_EQ(base64_decode(base64_encode(part)), part) << len;
    }
    EXPECT_EQ(base64_encode(all).find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
}

TEST(Base64, RefusesAnythingButOneCanonicalPaddedText) {
    const char* refused[] = {
        "Zg",        // padding missing
        "Zg=",       // padding short
        "Zg===",     // padding too long
        "Zm9v=",     // padding where none belongs
        "Zh==",      // non-canonical trailing bits
        "Zm9=",      // non-canonical trailing bits
        "Zm9v ",     // trailing white space
        " Zm9v",     // leading white space
        "Zm9v\r\n",  // line ending
        "Zm9vYg==x", // trailing garbage
        "Zg==Zg==",  // padding in the middle
        "Zm-v",      // URL-safe alphabet
        "Zm_v",
        "*",
        "=",
        "Z",
    };
    for (const char* text : refused) EXPECT_EQ(base64_decode(text), std::nullopt) << text;
}

}  // namespace
}  // namespace tessel
