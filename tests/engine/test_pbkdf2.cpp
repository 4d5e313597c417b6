#include "tessel_client/engine/pbkdf2.hpp"

#include <gtest/gtest.h>
#include <sodium/crypto_auth_hmacsha256.h>

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

std::string oracle_hmac(std::string_view key, std::string_view message) {
    crypto_auth_hmacsha256_state st;
    unsigned char out[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_init(&st, reinterpret_cast<const unsigned char*>(key.data()), key.size());
    crypto_auth_hmacsha256_update(&st, reinterpret_cast<const unsigned char*>(message.data()),
                                  message.size());
    crypto_auth_hmacsha256_final(&st, out);
    return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

// The textbook loop over libsodium's HMAC.
std::string oracle_pbkdf2(std::string_view password, std::string_view salt, unsigned iterations) {
    std::string u = oracle_hmac(password, std::string(salt) + std::string("\0\0\0\1", 4));
    std::string t = u;
    for (unsigned j = 1; j < iterations; ++j) {
        u = oracle_hmac(password, u);
        for (std::size_t k = 0; k < t.size(); ++k) t[k] = static_cast<char>(t[k] ^ u[k]);
    }
    return t;
}

// RFC 7914 section 11 (PBKDF2-HMAC-SHA256), first 32 bytes of each derived key.
TEST(Pbkdf2HmacSha256, Rfc7914Vectors) {
    EXPECT_EQ(to_hex(pbkdf2_hmac_sha256("passwd", "salt", 1)),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc");
    EXPECT_EQ(to_hex(pbkdf2_hmac_sha256("Password", "NaCl", 80000)),
              "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56");
}

TEST(Pbkdf2HmacSha256, MatchesTextbookLoop) {
    const struct {
        std::string password;
        std::string salt;
        unsigned iterations;
    } cases[] = {
        {"pencil", "", 2},
        {"", "salt", 3},
        {std::string(65, 'p'), "salt", 2},  // a password longer than a block is hashed first
        {std::string(200, '\x01'), std::string(100, '\xfe'), 17},
        {std::string("nul\0inside", 10), std::string("\0\0", 2), 1000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pbkdf2_hmac_sha256(c.password, c.salt, c.iterations),
                  oracle_pbkdf2(c.password, c.salt, c.iterations))
            << c.password.size() << "/" << c.iterations;
    }
}

TEST(Pbkdf2HmacSha256, ZeroIterationsActsAsOne) {
    EXPECT_EQ(pbkdf2_hmac_sha256("passwd", "salt", 0), pbkdf2_hmac_sha256("passwd", "salt", 1));
}

TEST(XorBytes, CoversTheShorterInput) {
    EXPECT_EQ(xor_bytes(std::string("\x0f\xf0\xaa", 3), std::string("\xff\xff", 2)),
              std::string("\xf0\x0f", 2));
    EXPECT_EQ(xor_bytes("abc", ""), "");
    EXPECT_EQ(xor_bytes("same", "same"), std::string(4, '\0'));
}

}  // namespace
}  // namespace tessel
