#include "tessel_client/engine/hmac_sha256.hpp"

#include <algorithm>

#include <sodium/utils.h>

namespace tessel {
namespace {

constexpr std::size_t kBlock = 64;

const unsigned char* bytes_of(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string to_string(const Sha256Digest& d) {
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

}  // namespace

std::string sha256(std::string_view bytes) {
    Sha256Digest out;
    crypto_hash_sha256(out.data(), bytes_of(bytes), bytes.size());
    return to_string(out);
}

HmacSha256Key::HmacSha256Key(std::string_view key) {
    unsigned char block[kBlock] = {};
    if (key.size() > kBlock) {
        crypto_hash_sha256(block, bytes_of(key), key.size());
    } else if (!key.empty()) {
        std::copy(key.begin(), key.end(), reinterpret_cast<char*>(block));
    }
    unsigned char pad[kBlock];
    for (std::size_t i = 0; i < kBlock; ++i) pad[i] = block[i] ^ 0x36;
    crypto_hash_sha256_init(&inner_);
    crypto_hash_sha256_update(&inner_, pad, kBlock);
    for (std::size_t i = 0; i < kBlock; ++i) pad[i] = block[i] ^ 0x5c;
    crypto_hash_sha256_init(&outer_);
    crypto_hash_sha256_update(&outer_, pad, kBlock);
    sodium_memzero(block, sizeof block);
    sodium_memzero(pad, sizeof pad);
}

HmacSha256Key::~HmacSha256Key() {
    sodium_memzero(&inner_, sizeof inner_);
    sodium_memzero(&outer_, sizeof outer_);
}

void HmacSha256Key::mac(const unsigned char* message, std::size_t size, Sha256Digest& out) const {
    crypto_hash_sha256_state st = inner_;
    crypto_hash_sha256_update(&st, message, size);
    crypto_hash_sha256_final(&st, out.data());
    st = outer_;
    crypto_hash_sha256_update(&st, out.data(), out.size());
    crypto_hash_sha256_final(&st, out.data());
}

std::string HmacSha256Key::mac(std::string_view message) const {
    Sha256Digest out;
    mac(bytes_of(message), message.size(), out);
    return to_string(out);
}

std::string hmac_sha256(std::string_view key, std::string_view message) {
    return HmacSha256Key(key).mac(message);
}

}  // namespace tessel
