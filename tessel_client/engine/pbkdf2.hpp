// PBKDF2 (RFC 8018, section 5.2) with HMAC-SHA-256, one 32-byte block of output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessel {

// U1 = HMAC(password, salt || 00 00 00 01), Uj = HMAC(password, U(j-1)); the result is
// U1 ^ ... ^ Uc (32 bytes). Callers bound `iterations`; a count of 0 is treated as 1.
std::string pbkdf2_hmac_sha256(std::string_view password, std::string_view salt,
                               std::uint32_t iterations);

// Byte-wise exclusive or over the length of the shorter input.
std::string xor_bytes(std::string_view a, std::string_view b);

}  // namespace tessel
