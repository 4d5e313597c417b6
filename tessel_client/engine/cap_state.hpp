// What the server offered and acknowledged during CAP 302 negotiation, and what we ask for.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

// Requested in this order, each only when the server offers exactly that name.
inline constexpr std::array<std::string_view, 40> WANTED_CAPS{
    "message-tags",        "server-time",
    "batch",               "labeled-response",
    "echo-message",        "draft/multiline",
    "multi-prefix",        "userhost-in-names",
    "extended-join",       "account-notify",
    "account-tag",         "away-notify",
    "chghost",             "invite-notify",
    "setname",             "cap-notify",
    "monitor",             "extended-monitor",
    "draft/chathistory",   "draft/event-playback",
    "draft/read-marker",   "draft/typing",
    "draft/message-redaction", "draft/channel-rename",
    "channel-context",     "draft/channel-context",
    "standard-replies",    "draft/named-modes",
    "draft/metadata-2",    "draft/extended-isupport",
    "draft/extended-isupport-0.2", "sasl",
    "znc.in/playback",     "vantaweb/cmdslist",
    "tesselnet/channel-bots", "draft/bot-cmds",
    "tesselnet/whois",     "tesselnet/invitation",
    "draft/authtoken",     "vantaweb/voice",
};

struct CapState {
    std::vector<std::string> requested;  // sent in CAP REQ, not yet answered, in sending order
    std::map<std::string, std::optional<std::string>, std::less<>> available;
    std::map<std::string, std::optional<std::string>, std::less<>> enabled;

    void offer(std::string_view list);
    // The names this ACK enabled, in list order (repeats and already-enabled names included).
    std::vector<std::string> ack(std::string_view list);
    void nak(std::string_view list);
    void del(std::string_view list);
    std::vector<std::string> wanted() const;

    bool is_enabled(std::string_view name) const { return enabled.find(name) != enabled.end(); }

    bool operator==(const CapState&) const = default;
};

}  // namespace tessel
