#include "tessel_client/engine/pbkdf2.hpp"

#include <algorithm>

#include <sodium/utils.h>

#include "tessel_client/engine/hmac_sha256.hpp"

namespace tessel {

std::string pbkdf2_hmac_sha256(std::string_view password, std::string_view salt,
                               std::uint32_t iterations) {
    const HmacSha256Key prf(password);

    // U1 over salt || INT(1): a single output block is all SCRAM needs.
    std::string first(salt);
    first.append("\x00\x00\x00\x01", 4);
    Sha256Digest u;
    prf.mac(reinterpret_cast<const unsigned char*>(first.data()), first.size(), u);

    Sha256Digest t = u;
    for (std::uint32_t j = 1; j < iterations; ++j) {
        prf.mac(u.data(), u.size(), u);
        for (std::size_t k = 0; k < t.size(); ++k) t[k] ^= u[k];
    }
    std::string out(reinterpret_cast<const char*>(t.data()), t.size());
    sodium_memzero(u.data(), u.size());
    sodium_memzero(t.data(), t.size());
    return out;
}

std::string xor_bytes(std::string_view a, std::string_view b) {
    std::string out(std::min(a.size(), b.size()), '\0');
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = static_cast<char>(a[k] ^ b[k]);
    return out;
}

}  // namespace tessel
