// The configuration an Engine is built from, and the SASL credentials it may carry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tessel {

struct Credentials {
    struct Plain {
        std::string username;
        std::string password;
        bool operator==(const Plain&) const = default;
    };
    struct External {
        bool operator==(const External&) const = default;
    };
    struct Scram {
        std::string username;
        std::string password;
        std::string nonce;  // client nonce, supplied by the host
        bool operator==(const Scram&) const = default;
    };

    std::variant<Plain, External, Scram> value;

    bool operator==(const Credentials&) const = default;
};

struct Config {
    std::string nick;
    std::string username;  // empty: the nick is used
    std::string realname;  // empty: the nick is used
    std::optional<std::string> password;
    std::optional<Credentials> sasl;
    std::uint64_t retention = 5000;  // messages kept per log; 0 counts as 1
    std::vector<std::string> alt_nicks;

    bool operator==(const Config&) const = default;
};

}  // namespace tessel
