#include "tessel_client/engine/sasl.hpp"

namespace tessel {

std::optional<SaslFailure> sasl_failure_from_numeric(std::string_view word) {
    if (word == "904") return SaslFailure::rejected;
    if (word == "905") return SaslFailure::too_long;
    if (word == "906") return SaslFailure::aborted;
    if (word == "907") return SaslFailure::already_authenticated;
    return std::nullopt;
}

std::string plain_payload(const Credentials& credentials) {
    const auto* plain = std::get_if<Credentials::Plain>(&credentials.value);
    if (!plain) return {};
    std::string payload;
    payload.reserve(plain->username.size() + plain->password.size() + 2);
    payload.push_back('\0');
    payload += plain->username;
    payload.push_back('\0');
    payload += plain->password;
    return payload;
}

std::string_view sasl_mechanism_name(const Credentials& credentials) {
    switch (credentials.value.index()) {
        case 0: return "PLAIN";
        case 1: return "EXTERNAL";
        default: return "SCRAM-SHA-256";
    }
}

}  // namespace tessel
