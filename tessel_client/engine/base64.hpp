// Base64 (RFC 4648, standard alphabet, "=" padding) over libsodium.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessel {

std::string base64_encode(std::string_view bytes);

// Strict: padding required, no white space, no trailing garbage, non-canonical trailing bits
// refused. The empty text decodes to the empty string; anything unreadable gives nothing.
std::optional<std::string> base64_decode(std::string_view text);

}  // namespace tessel
