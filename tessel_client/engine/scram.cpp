#include "tessel_client/engine/scram.hpp"

#include "tessel_client/engine/base64.hpp"
#include "tessel_client/engine/hmac_sha256.hpp"
#include "tessel_client/engine/pbkdf2.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {
namespace {

bool is_ascii_alnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The value of the first ","-separated piece that reads "<name>=...", searched from the start,
// so attributes may come in any order and unknown ones (extensions, "e=") are passed over.
std::optional<std::string_view> find_attribute(std::string_view text, char name) {
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view piece =
            text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (piece.size() >= 2 && piece[0] == name && piece[1] == '=') return piece.substr(2);
        if (comma == std::string_view::npos) return std::nullopt;
        start = comma + 1;
    }
}

// Decimal with one optional leading "+", fitting in 32 bits; the range is checked by the caller.
std::optional<std::uint32_t> parse_iterations(std::string_view value) {
    if (!value.empty() && value[0] == '+') value.remove_prefix(1);
    if (value.empty()) return std::nullopt;
    std::uint64_t n = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
        if (n > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(n);
}

// Takes the same time wherever the first difference lies.
bool equal_constant_time(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

}  // namespace

std::pair<ScramState, std::string> scram_client_first(std::string_view username,
                                                      std::string_view password,
                                                      std::string_view nonce) {
    std::string client_nonce;
    for (const char c : nonce) {
        if (client_nonce.size() == kScramMaxNonce) break;
        if (is_ascii_alnum(c)) client_nonce.push_back(c);
    }
    if (client_nonce.empty()) client_nonce.push_back('0');

    std::string bare = "n=";
    for (const char c : username) {
        if (c == '=') {
            bare += "=3D";
        } else if (c == ',') {
            bare += "=2C";
        } else {
            bare.push_back(c);
        }
    }
    bare += ",r=";
    bare += client_nonce;

    ScramState state{bare, std::move(client_nonce), std::string(password), std::nullopt,
                     std::nullopt};
    return {std::move(state), std::move(bare)};
}

std::variant<std::string, ScramError> scram_client_final(ScramState& state,
                                                         std::string_view server_first) {
    if (!utf8_valid(server_first)) return ScramError::Malformed;
    const auto r = find_attribute(server_first, 'r');
    const auto s = find_attribute(server_first, 's');
    const auto i = find_attribute(server_first, 'i');
    if (!r || !s || !i) return ScramError::Malformed;

    const auto iterations = parse_iterations(*i);
    if (!iterations) return ScramError::Malformed;

    const std::string_view server_nonce = *r;
    if (server_nonce.size() <= state.nonce.size() || !server_nonce.starts_with(state.nonce)) {
        return ScramError::NonceMismatch;
    }
    // Refused before any key is derived: the count bounds the work done for the server.
    if (*iterations < kScramMinIterations || *iterations > kScramMaxIterations) {
        return ScramError::IterationCount;
    }
    const auto salt = base64_decode(*s);
    if (!salt) return ScramError::SaltNotBase64;

    const std::string salted = pbkdf2_hmac_sha256(state.password, *salt, *iterations);
    const HmacSha256Key salted_key(salted);
    const std::string client_key = salted_key.mac("Client Key");
    const std::string stored_key = sha256(client_key);
    state.server_key = salted_key.mac("Server Key");

    std::string without_proof = "c=biws,r=";
    without_proof += server_nonce;

    std::string auth_message = state.client_first_bare;
    auth_message += ',';
    auth_message += server_first;
    auth_message += ',';
    auth_message += without_proof;

    const std::string signature = hmac_sha256(stored_key, auth_message);
    state.auth_message = std::move(auth_message);

    std::string final_message = std::move(without_proof);
    final_message += ",p=";
    final_message += base64_encode(xor_bytes(client_key, signature));
    return final_message;
}

std::optional<ScramError> scram_verify_server_final(const ScramState& state,
                                                    std::string_view server_final) {
    if (!utf8_valid(server_final)) return ScramError::Malformed;
    const auto v = find_attribute(server_final, 'v');
    if (!v) return ScramError::Malformed;
    if (!state.server_key || !state.auth_message) return ScramError::Malformed;

    const std::string expected = hmac_sha256(*state.server_key, *state.auth_message);
    const auto signature = base64_decode(*v);
    if (!signature) return ScramError::Malformed;
    if (!equal_constant_time(*signature, expected)) return ScramError::ServerSignatureMismatch;
    return std::nullopt;
}

}  // namespace tessel
