#include "tessel_client/engine/hmac_sha256.hpp"

#include <gtest/gtest.h>
#include <sodium/crypto_auth_hmacsha256.h>

#include <random>
#include <string>

namespace tessel {
namespace {

std::string to_hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string from_hex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

std::string random_bytes(std::mt19937& rng, std::size_t n) {
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(rng() & 0xff);
    return out;
}

// libsodium's HMAC, which takes keys of any length through its streaming interface.
std::string oracle_hmac(std::string_view key, std::string_view message) {
    crypto_auth_hmacsha256_state st;
    unsigned char out[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_init(&st, reinterpret_cast<const unsigned char*>(key.data()), key.size());
    crypto_auth_hmacsha256_update(&st, reinterpret_cast<const unsigned char*>(message.data()),
                                  message.size());
    crypto_auth_hmacsha256_final(&st, out);
    return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

// RFC 4231 section 4; test case 5 is truncated to 128 bits and compared on those bytes.
TEST(HmacSha256, Rfc4231Vectors) {
    const std::string big_key(131, '\xaa');
    const struct {
        std::string key;
        std::string message;
        std::string hex;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {std::string(20, '\x0c'), "Test With Truncation", "a3b6167473100ee06e0c796c2955552b"},
        {big_key, "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {big_key,
         "This is a test using a larger than block-size key and a larger than block-size data. "
         "The key needs to be hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto& c : cases) {
        const std::string mac = hmac_sha256(c.key, c.message);
        ASSERT_EQ(mac.size(), 32u);
        EXPECT_EQ(to_hex(mac).substr(0, c.hex.size()), c.hex) << c.message;
    }
}

// Keys around the 64-byte block edge (empty, exactly one block, one past it, hashed) and messages
// around the SHA-256 padding edges; one prepared key serves every message, so a MAC that
// disturbed the stored pad states would show up on the next one.
TEST(HmacSha256, MatchesLibsodiumForKeyAndMessageLengths) {
    std::mt19937 rng(4231);
    for (const std::size_t key_len : {0, 1, 20, 32, 63, 64, 65, 100, 128, 200}) {
        const std::string key = random_bytes(rng, key_len);
        const HmacSha256Key prepared(key);
        for (const std::size_t msg_len : {0, 1, 32, 55, 56, 63, 64, 65, 119, 120, 200, 1000}) {
            const std::string message = random_bytes(rng, msg_len);
            const std::string expected = oracle_hmac(key, message);
            EXPECT_EQ(hmac_sha256(key, message), expected) << key_len << "/" << msg_len;
            EXPECT_EQ(prepared.mac(message), expected) << key_len << "/" << msg_len;
        }
    }
}

// The in-place form PBKDF2 relies on: output written over its own input.
TEST(HmacSha256, InPlaceMacMatchesCopy) {
    const HmacSha256Key key("secret");
    Sha256Digest buf;
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<unsigned char>(i * 7);
    const std::string input(reinterpret_cast<const char*>(buf.data()), buf.size());
    key.mac(buf.data(), buf.size(), buf);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf.data()), buf.size()), key.mac(input));
}

}  // namespace
}  // namespace tessel
