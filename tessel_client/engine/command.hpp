// What the host asks of the connection: one Command, which Engine::execute turns into lines.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "tessel_client/voice/signal.hpp"

namespace tessel {

enum class TypingState : std::uint8_t { Active = 0, Paused = 1, Done = 2 };

// The word each state is sent as, and read from: "active", "paused", "done".
inline constexpr std::array<std::string_view, 3> kTypingWords = {"active", "paused", "done"};
inline std::string_view typing_word(TypingState state) { return kTypingWords[static_cast<std::size_t>(state)]; }

struct Command {
    struct Join {
        std::string channel;
        std::optional<std::string> key;
        bool operator==(const Join&) const = default;
    };
    struct Part {
        std::string channel;
        std::optional<std::string> reason;
        bool operator==(const Part&) const = default;
    };
    struct SendMessage {
        std::string target;
        std::string text;
        bool operator==(const SendMessage&) const = default;
    };
    struct SendNotice {
        std::string target;
        std::string text;
        bool operator==(const SendNotice&) const = default;
    };
    struct SendAction {
        std::string target;
        std::string text;
        bool operator==(const SendAction&) const = default;
    };
    struct SetNick {
        std::string nick;
        bool operator==(const SetNick&) const = default;
    };
    struct SetTopic {
        std::string channel;
        std::optional<std::string> topic;
        bool operator==(const SetTopic&) const = default;
    };
    struct SetAway {
        std::optional<std::string> message;
        bool operator==(const SetAway&) const = default;
    };
    struct SetTyping {
        std::string target;
        TypingState state = TypingState::Active;
        bool operator==(const SetTyping&) const = default;
    };
    struct AddReaction {
        std::string target;
        std::string msgid;
        std::string emoji;
        bool operator==(const AddReaction&) const = default;
    };
    struct RemoveReaction {
        std::string target;
        std::string msgid;
        std::string emoji;
        bool operator==(const RemoveReaction&) const = default;
    };
    struct RedactMessage {
        std::string target;
        std::string msgid;
        std::optional<std::string> reason;
        bool operator==(const RedactMessage&) const = default;
    };
    struct MarkRead {
        std::string target;
        std::uint64_t at_ms = 0;  // Unix time
        bool operator==(const MarkRead&) const = default;
    };
    struct FetchHistory {
        std::string target;
        std::optional<std::string> before_msgid;  // none: the newest messages
        std::uint16_t limit = 0;
        bool operator==(const FetchHistory&) const = default;
    };
    struct SetMetadata {
        std::string key;
        std::optional<std::string> value;  // none: clear the key
        bool operator==(const SetMetadata&) const = default;
    };
    struct SubscribeMetadata {
        std::vector<std::string> keys;
        bool operator==(const SubscribeMetadata&) const = default;
    };
    struct Whois {
        std::string nick;
        bool operator==(const Whois&) const = default;
    };
    struct RenameChannel {
        std::string channel;
        std::string new_name;
        std::optional<std::string> reason;
        bool operator==(const RenameChannel&) const = default;
    };
    struct CreateInviteLink {
        std::optional<std::string> channel;  // none: an invitation to the network
        std::optional<std::string> description;
        bool operator==(const CreateInviteLink&) const = default;
    };
    struct ListInviteLinks {
        bool operator==(const ListInviteLinks&) const = default;
    };
    struct DeleteInviteLink {
        std::string share_id;
        bool operator==(const DeleteInviteLink&) const = default;
    };
    struct RedeemInviteCode {
        std::string code;
        bool operator==(const RedeemInviteCode&) const = default;
    };
    struct GenerateToken {
        std::string service;
        bool operator==(const GenerateToken&) const = default;
    };
    struct WatchNicks {
        std::vector<std::string> nicks;
        bool operator==(const WatchNicks&) const = default;
    };
    struct UnwatchNicks {
        std::vector<std::string> nicks;
        bool operator==(const UnwatchNicks&) const = default;
    };
    struct SendVoiceSignal {
        std::string channel;
        Signal signal;
        bool operator==(const SendVoiceSignal&) const = default;
    };
    struct Quit {
        std::optional<std::string> reason;
        bool operator==(const Quit&) const = default;
    };
    struct SendRawLine {
        std::string line;
        bool operator==(const SendRawLine&) const = default;
    };

    using Variant = std::variant<Join, Part, SendMessage, SendNotice, SendAction, SetNick, SetTopic, SetAway,
                                 SetTyping, AddReaction, RemoveReaction, RedactMessage, MarkRead, FetchHistory,
                                 SetMetadata, SubscribeMetadata, Whois, RenameChannel, CreateInviteLink,
                                 ListInviteLinks, DeleteInviteLink, RedeemInviteCode, GenerateToken, WatchNicks,
                                 UnwatchNicks, SendVoiceSignal, Quit, SendRawLine>;
    Variant value;

    Command() = default;
    // From one variant, so a caller can write Command{Command::Whois{"bob"}}.
    template <class C, class = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<C>, Command>>>
    Command(C&& payload) : value(std::forward<C>(payload)) {}

    bool operator==(const Command&) const = default;
};

inline constexpr std::size_t kCommandVariants = 28;
static_assert(std::variant_size_v<Command::Variant> == kCommandVariants);

}  // namespace tessel
