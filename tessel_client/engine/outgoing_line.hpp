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
    // NICK and QUIT, which a server takes before registration: at once while a link is up, so a
    // host can finish or leave a registration that stalls. Given while down it waits like the
    // rest, or the registration burst's own NICK would override it.
    UnlessDown,
    AtOnce,  // raw lines and invitation codes, which are meant for before registration
};

// Who made a line, which decides where it stands once a link comes up, and whether it outlives
// the link it was made on.
enum class LineOrigin : std::uint8_t {
    // Upkeep (registration, CAP, SASL, PING, PONG, the nick fallback, the resume burst): part of
    // one link's conversation, so it dies with that link; one made while down leads the next.
    Engine,
    Command,  // a host command: set aside until the server has registered us
    // Sent AtOnce: the host's PASS, WEBIRC or CAP line must reach the server ahead of a
    // registration burst, so it keeps its place too.
    Early,
};

// Whether a chat line still owes our log its local echo. That depends on whether the link it
// goes out on has echo-message, which a line that waits for 001, or outlives its link, learns
// only later; the echo is then made from the line itself, as it went out.
enum class LocalEcho : std::uint8_t {
    None,          // not a chat line, or its echo is stored
    Owed,          // to be stored unless the link that takes it has echo-message
    ServerEchoes,  // its link has echo-message; owed again if the link drops before it is taken
};

struct OutgoingLine {
    std::string text;  // one line ending in CR LF
    LineOrigin origin = LineOrigin::Engine;
    // The label the engine gave it. A label belongs to the link that negotiated
    // labeled-response, so a drop before the line is taken takes it off again.
    std::optional<std::string> label;
    LocalEcho echo = LocalEcho::None;

    bool operator==(const OutgoingLine&) const = default;
};

}  // namespace tessel
