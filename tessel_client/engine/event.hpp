// What the engine tells the host: one Event per thing it found, queued in order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/voice/signal.hpp"

namespace tessel {

enum class SaslFailure : std::uint8_t {
    rejected = 0,
    too_long = 1,
    aborted = 2,
    already_authenticated = 3,
    no_shared_mechanism = 4,
    server_not_verified = 5,
};

enum class ReplySeverity : std::uint8_t { fail = 0, warn = 1, note = 2 };

struct Event {
    struct CapabilitiesAcknowledged {
        std::vector<std::string> names;
        bool operator==(const CapabilitiesAcknowledged&) const = default;
    };
    struct Registered {
        std::string nick;
        bool operator==(const Registered&) const = default;
    };
    struct IsupportToken {
        std::string token;
        std::optional<std::string> value;
        bool operator==(const IsupportToken&) const = default;
    };
    struct LoggedIn {
        std::string account;
        bool operator==(const LoggedIn&) const = default;
    };
    struct SaslFailed {
        SaslFailure reason;
        bool operator==(const SaslFailed&) const = default;
    };
    struct NickInUse {
        std::string refused;
        std::string trying;
        bool operator==(const NickInUse&) const = default;
    };
    struct ModelChanged {
        Change change;
        // Built from its change, so the queue can make one in place with a single move.
        ModelChanged() = default;
        explicit ModelChanged(Change&& c) : change(std::move(c)) {}
        explicit ModelChanged(const Change& c) : change(c) {}
        bool operator==(const ModelChanged&) const = default;
    };
    struct LinkDead {
        bool operator==(const LinkDead&) const = default;
    };
    struct ReconnectAfter {
        std::uint64_t after_ms;
        bool operator==(const ReconnectAfter&) const = default;
    };
    struct ReconnectAbandoned {
        bool operator==(const ReconnectAbandoned&) const = default;
    };
    struct CommandTimedOut {
        std::string command;
        bool operator==(const CommandTimedOut&) const = default;
    };
    struct AllowedCommandsChanged {
        bool operator==(const AllowedCommandsChanged&) const = default;
    };
    struct BotsChanged {
        std::string nick;
        bool operator==(const BotsChanged&) const = default;
    };
    struct AuthToken {
        std::string service;
        std::string endpoint;
        std::string token;
        bool operator==(const AuthToken&) const = default;
    };
    struct Voice {
        std::string channel;
        Signal signal;
        bool operator==(const Voice&) const = default;
    };
    struct TypingChanged {
        std::string target;
        std::string nick;
        bool active;
        bool operator==(const TypingChanged&) const = default;
    };
    struct PresenceChanged {
        std::string nick;
        bool online;
        bool operator==(const PresenceChanged&) const = default;
    };
    struct ServerReply {
        ReplySeverity severity;
        std::string command;
        std::string code;
        std::vector<std::string> context;
        std::string text;
        bool operator==(const ServerReply&) const = default;
    };
    struct RawLine {
        IrcMessage message;
        bool operator==(const RawLine&) const = default;
    };

    std::variant<CapabilitiesAcknowledged, Registered, IsupportToken, LoggedIn, SaslFailed, NickInUse,
                 ModelChanged, LinkDead, ReconnectAfter, ReconnectAbandoned, CommandTimedOut,
                 AllowedCommandsChanged, BotsChanged, AuthToken, Voice, TypingChanged, PresenceChanged,
                 ServerReply, RawLine>
        value;

    Event() = default;
    // From one variant, so the queue can build an event in place from its payload alone.
    template <class E, class = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<E>, Event>>>
    Event(E&& payload) : value(std::forward<E>(payload)) {}
    // The payload built in place from its arguments.
    template <class E, class... Args>
    Event(std::in_place_type_t<E> type, Args&&... args) : value(type, std::forward<Args>(args)...) {}

    bool operator==(const Event&) const = default;
};

}  // namespace tessel
