// Client side of SASL SCRAM-SHA-256 (RFC 5802 with SHA-256, RFC 7677): pure computations over
// the values passed in and the exchange state; nothing here sends anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace tessel {

inline constexpr std::size_t kScramMaxNonce = 24;
inline constexpr std::uint32_t kScramMinIterations = 1;
inline constexpr std::uint32_t kScramMaxIterations = 1000000;

// Held between the AUTHENTICATE steps of one exchange.
struct ScramState {
    std::string client_first_bare;            // "n=" escaped username ",r=" client nonce
    std::string nonce;                        // the client nonce actually used
    std::string password;                     // UTF-8 bytes of the password, unchanged
    std::optional<std::string> server_key;    // 32 bytes, set by scram_client_final
    std::optional<std::string> auth_message;  // set by scram_client_final

    bool operator==(const ScramState&) const = default;
};

enum class ScramError : std::uint8_t {
    Malformed = 0,
    NonceMismatch = 1,
    IterationCount = 2,
    SaltNotBase64 = 3,
    ServerSignatureMismatch = 4,
};

// The new state and its client-first-bare text (the caller sends "n,," before it).
std::pair<ScramState, std::string> scram_client_first(std::string_view username,
                                                      std::string_view password,
                                                      std::string_view nonce);

// Answers the decoded server-first message: the client-final text, or why it was refused.
// On success `state` also holds ServerKey and AuthMessage.
std::variant<std::string, ScramError> scram_client_final(ScramState& state,
                                                         std::string_view server_first);

// Checks the decoded server-final message: nothing when the server's signature verifies.
std::optional<ScramError> scram_verify_server_final(const ScramState& state,
                                                    std::string_view server_final);

}  // namespace tessel
