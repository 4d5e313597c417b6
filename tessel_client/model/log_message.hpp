// One stored message and its key: the records a message log holds, the plain form a message
// is given in, and the views both are read through.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "tessel_client/model/unique_list.hpp"
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
    using Value = std::variant<Privmsg, Notice, Ctcp, Tagmsg, Join, Part, Quit, Kick, Nick, Topic, Mode>;
    Value value;
    bool operator==(const MessageKind&) const = default;

    // The one text a kind carries (command, target or new nick), empty for the others.
    std::string_view text() const;
    // The kind of variant index `index` carrying `text` where it carries one.
    static MessageKind make(std::size_t index, std::string_view text);
};

namespace detail {
template <class T, class... Kinds>
constexpr std::uint8_t index_in(const std::variant<Kinds...>*) {
    constexpr bool same[] = {std::is_same_v<T, Kinds>...};
    std::uint8_t i = 0;
    while (i < sizeof...(Kinds) && !same[i]) ++i;
    return i;
}
}  // namespace detail

// The variant index of kind T (MessageKind::Privmsg, ...), as MessageView::kind holds it.
template <class T>
inline constexpr std::uint8_t message_kind_index = detail::index_in<T>(static_cast<const MessageKind::Value*>(nullptr));

struct LinkPreview {
    std::string title;
    std::optional<std::string> snippet;
    std::optional<std::string> image;

    // The reply msgid and the preview a TAGMSG carries; nothing without a title or a reply msgid.
    static std::optional<std::pair<std::string, LinkPreview>> from_tags(const std::vector<Tag>& tags);
    bool operator==(const LinkPreview&) const = default;
};

// emoji -> folded nicks in the order they reacted; never an empty list
using Reactions = std::map<std::string, UniqueList, std::less<>>;

// What few messages get after they are stored: reactions and a link preview.
struct MessageExtras {
    Reactions reactions;
    std::optional<LinkPreview> link_preview;
    bool empty() const { return reactions.empty() && !link_preview; }
    bool operator==(const MessageExtras&) const = default;
};

// A message's fields as views: what the log is given to store, and what it reads back.
struct MessageView {
    MessageKey key;
    std::optional<std::string_view> msgid;
    std::string_view sender;  // as the server wrote it; empty without a source
    std::uint8_t kind = 0;    // index into MessageKind::Value
    std::string_view kind_text;  // MessageKind::text()
    std::string_view text;
    std::optional<std::string_view> account;
    std::optional<std::string_view> reply_to;
    bool historical = false;
    bool own = false;
    bool redacted = false;
    bool operator==(const MessageView&) const = default;
};

// A message as plain values, owning its strings: how one is built outside the reducer.
struct MessageDraft {
    MessageKey key;
    std::optional<std::string> msgid;
    std::string sender;
    MessageKind kind;
    std::string text;
    std::optional<std::string> account;
    bool historical = false;
    bool own = false;
    std::optional<std::string> reply_to;
    Reactions reactions;
    std::optional<LinkPreview> link_preview;
    bool redacted = false;

    // Views of this draft's strings (so valid while it lives unchanged).
    MessageView view() const;
    bool operator==(const MessageDraft&) const = default;
};

// A stored message. Its key and flags are plain fields; its texts lie in its log's arena and
// are read through views that stay valid until the log next stores a message. Reactions and a
// link preview are kept by the log beside it (MessageLog::extras).
class LogMessage {
public:
    MessageKey key;

private:
    // Fields in this order fill 40 bytes.
    const char* texts_ = nullptr;  // see kTexts
    std::uint32_t block_ = 0;      // the arena block holding the texts
    std::uint32_t id_hash_ = 0;    // low half of the msgid's index hash

public:
    bool historical = false;
    bool own = false;
    bool redacted = false;

    std::optional<std::string_view> msgid() const;
    bool has_msgid() const { return (present_ & kMsgid) != 0; }
    std::string_view sender() const { return view().sender; }
    MessageKind kind() const {
        const MessageView v = view();
        return MessageKind::make(v.kind, v.kind_text);
    }
    std::size_t kind_index() const { return kind_; }
    std::string_view text() const { return view().text; }
    std::optional<std::string_view> account() const { return view().account; }
    std::optional<std::string_view> reply_to() const { return view().reply_to; }
    MessageView view() const;
    // The message as plain values, without reactions and link preview.
    MessageDraft draft() const;

    // Same fields; reactions and link preview are compared by the log.
    friend bool operator==(const LogMessage& a, const LogMessage& b) { return a.view() == b.view(); }
    friend bool operator==(const LogMessage& a, const MessageDraft& b) { return a.view() == b.view(); }

private:
    friend class MessageMap;

    // The texts lie back to back after their lengths, written as LEB128 numbers in this order:
    // msgid, sender, kind text, text, account, reply_to.
    static constexpr std::size_t kTexts = 6;
    std::size_t texts_size() const;  // lengths and texts
    static constexpr std::uint16_t kLongTexts = 0xffff;
    enum Present : std::uint8_t { kMsgid = 1, kAccount = 2, kReplyTo = 4, kHasExtras = 8 };

    std::uint8_t kind_ = 0;
    std::uint8_t present_ = 0;
    std::uint16_t texts_size_ = 0;  // texts_size(), or kLongTexts when it does not fit
};

// Same sender, text and kind: what makes a message without msgid a duplicate within one millisecond.
bool same_content(const MessageView& a, const MessageView& b);

}  // namespace tessel
