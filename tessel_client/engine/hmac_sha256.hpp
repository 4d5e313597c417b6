// HMAC-SHA-256 (RFC 2104) over libsodium's SHA-256.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include <sodium/crypto_hash_sha256.h>

namespace tessel {

inline constexpr std::size_t kSha256Size = 32;
using Sha256Digest = std::array<unsigned char, kSha256Size>;

// SHA-256 of `bytes`, as a 32-byte string.
std::string sha256(std::string_view bytes);

// HMAC-SHA-256 of `message` under `key` (any length, empty included): 32 bytes.
std::string hmac_sha256(std::string_view key, std::string_view message);

// A key made ready once: the SHA-256 states after the inner (key ^ 0x36) and outer (key ^ 0x5c)
// pad blocks are kept, so each MAC only hashes the message and the inner digest. A MAC over a
// 32-byte message then costs two SHA-256 compressions, which is what keeps PBKDF2 affordable.
class HmacSha256Key {
public:
    explicit HmacSha256Key(std::string_view key);
    ~HmacSha256Key();
    HmacSha256Key(const HmacSha256Key&) = default;
    HmacSha256Key& operator=(const HmacSha256Key&) = default;

    std::string mac(std::string_view message) const;
    void mac(const unsigned char* message, std::size_t size, Sha256Digest& out) const;

private:
    crypto_hash_sha256_state inner_;
    crypto_hash_sha256_state outer_;
};

}  // namespace tessel
