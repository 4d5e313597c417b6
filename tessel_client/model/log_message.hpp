// One stored message and its key: the records a message log holds.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "tessel_client/model/boxed.hpp"
#include "tessel_client/model/lazy_map.hpp"
#include "tessel_client/protocol/message.hpp"

namespace tessel {

struct MessageKey {
    std::uint64_t time_ms = 0;
    std::uint64_t seq = 0;
    auto operator<=>(const MessageKey&) const = default;
};

// What a stored message is. Incoming messages produce only Privmsg, Notice, Ctcp and Tagmsg.
struct MessageKind {
    struct Privmsg {
        bool operator==(const Privmsg&) const = default;
    };
    struct Notice {
        bool operator==(const Notice&) const = default;
    };
    struct Ctcp {
        std::string command;  // ASCII upper case
        bool operator==(const Ctcp&) const = default;
    };
    struct Tagmsg {
        bool operator==(const Tagmsg&) const = default;
    };
    struct Join {
        bool operator==(const Join&) const = default;
    };
    struct Part {
        bool operator==(const Part&) const = default;
    };
    struct Quit {
        bool operator==(const Quit&) const = default;
    };
    struct Kick {
        std::string target;
        bool operator==(const Kick&) const = default;
    };
    struct Nick {
        std::string new_nick;
        bool operator==(const Nick&) const = default;
    };
    struct Topic {
        bool operator==(const Topic&) const = default;
    };
    struct Mode {
        bool operator==(const Mode&) const = default;
    };
    std::variant<Privmsg, Notice, Ctcp, Tagmsg, Join, Part, Quit, Kick, Nick, Topic, Mode> value;
    bool operator==(const MessageKind&) const = default;
};

struct LinkPreview {
    std::string title;
    std::optional<std::string> snippet;
    std::optional<std::string> image;

    // The reply msgid and the preview a TAGMSG carries; nothing without a title or a reply msgid.
    static std::optional<std::pair<std::string, LinkPreview>> from_tags(const std::vector<Tag>& tags);
    bool operator==(const LinkPreview&) const = default;
};

struct LogMessage {
    MessageKey key;
    std::optional<std::string> msgid;
    std::string sender;  // as the server wrote it; empty without a source
    MessageKind kind;
    std::string text;
    std::optional<std::string> account;
    bool historical = false;
    bool own = false;
    Boxed<std::string> reply_to;  // rarely set: kept out of line
    // emoji -> folded nicks in the order they reacted; never an empty list
    LazyMap<std::map<std::string, std::vector<std::string>, std::less<>>> reactions;  // mostly empty: no storage then
    Boxed<LinkPreview> link_preview;  // rarely set: kept out of line
    bool redacted = false;
    bool operator==(const LogMessage&) const = default;
};

}  // namespace tessel
