// Lines on their way out: the transmit queue's entries, and host command lines that wait for
// the server to register us.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tessel {

// When a host command's line may reach the server.
enum class Sending : std::uint8_t {
    WhenRegistered,  // from handle_connected until after 001 and its resume burst it waits
    AtOnce,      // raw lines and invitation codes, which are meant for before registration
};

struct OutgoingLine {
    std::string text;  // one line ending in CR LF
    // Sent AtOnce: the host's PASS, WEBIRC or CAP line must reach the server ahead of a
    // registration burst, so handle_connected leaves it in place instead of setting it aside.
    bool early = false;

    bool operator==(const OutgoingLine&) const = default;
};

struct HeldLine {
    std::string text;                  // one line ending in CR LF
    std::optional<std::string> label;  // its labelled request, whose answer time starts when it goes

    bool operator==(const HeldLine&) const = default;
};

}  // namespace tessel
