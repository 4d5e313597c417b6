// The fields of each Command variant by name, in declared order: what the JSON reader and the
// typed methods fill, so both name every field alike.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <tuple>

#include "tessel_client/engine/command.hpp"

namespace tessel {

// Each variant's word in snake_case: its JSON "type" and the name of its method.
inline constexpr std::array<std::string_view, kCommandVariants> kCommandWords = {
    "join", "part", "send_message", "send_notice", "send_action", "set_nick", "set_topic", "set_away",
    "set_typing", "add_reaction", "remove_reaction", "redact_message", "mark_read", "fetch_history",
    "set_metadata", "subscribe_metadata", "whois", "rename_channel", "create_invite_link",
    "list_invite_links", "delete_invite_link", "redeem_invite_code", "generate_token", "watch_nicks",
    "unwatch_nicks", "send_voice_signal", "quit", "send_raw_line",
};

// One field of a command being filled. `name` views a literal, so it is NUL-terminated.
template <class T>
struct CommandField {
    std::string_view name;
    T& member;
};

template <class T>
CommandField<T> command_field(std::string_view name, T& member) {
    return {name, member};
}

// Optional texts may be left out; every other field must be given.
template <class T>
inline constexpr bool kOptionalField = false;
template <class T>
inline constexpr bool kOptionalField<std::optional<T>> = true;

// The fields of one variant, as a tuple of CommandField in declared order.
inline auto command_fields(Command::Join& c) {
    return std::tuple{command_field("channel", c.channel), command_field("key", c.key)};
}
inline auto command_fields(Command::Part& c) {
    return std::tuple{command_field("channel", c.channel), command_field("reason", c.reason)};
}
inline auto command_fields(Command::SendMessage& c) {
    return std::tuple{command_field("target", c.target), command_field("text", c.text)};
}
inline auto command_fields(Command::SendNotice& c) {
    return std::tuple{command_field("target", c.target), command_field("text", c.text)};
}
inline auto command_fields(Command::SendAction& c) {
    return std::tuple{command_field("target", c.target), command_field("text", c.text)};
}
inline auto command_fields(Command::SetNick& c) { return std::tuple{command_field("nick", c.nick)}; }
inline auto command_fields(Command::SetTopic& c) {
    return std::tuple{command_field("channel", c.channel), command_field("topic", c.topic)};
}
inline auto command_fields(Command::SetAway& c) { return std::tuple{command_field("message", c.message)}; }
inline auto command_fields(Command::SetTyping& c) {
    return std::tuple{command_field("target", c.target), command_field("state", c.state)};
}
inline auto command_fields(Command::AddReaction& c) {
    return std::tuple{command_field("target", c.target),
                      command_field("msgid", c.msgid),
                      command_field("emoji", c.emoji)};
}
inline auto command_fields(Command::RemoveReaction& c) {
    return std::tuple{command_field("target", c.target),
                      command_field("msgid", c.msgid),
                      command_field("emoji", c.emoji)};
}
inline auto command_fields(Command::RedactMessage& c) {
    return std::tuple{command_field("target", c.target),
                      command_field("msgid", c.msgid),
                      command_field("reason", c.reason)};
}
inline auto command_fields(Command::MarkRead& c) {
    return std::tuple{command_field("target", c.target), command_field("at_ms", c.at_ms)};
}
inline auto command_fields(Command::FetchHistory& c) {
    return std::tuple{command_field("target", c.target),
                      command_field("before_msgid", c.before_msgid),
                      command_field("limit", c.limit)};
}
inline auto command_fields(Command::SetMetadata& c) {
    return std::tuple{command_field("key", c.key), command_field("value", c.value)};
}
inline auto command_fields(Command::SubscribeMetadata& c) {
    return std::tuple{command_field("keys", c.keys)};
}
inline auto command_fields(Command::Whois& c) { return std::tuple{command_field("nick", c.nick)}; }
inline auto command_fields(Command::RenameChannel& c) {
    return std::tuple{command_field("channel", c.channel),
                      command_field("new_name", c.new_name),
                      command_field("reason", c.reason)};
}
inline auto command_fields(Command::CreateInviteLink& c) {
    return std::tuple{command_field("channel", c.channel), command_field("description", c.description)};
}
inline auto command_fields(Command::ListInviteLinks&) { return std::tuple{}; }
inline auto command_fields(Command::DeleteInviteLink& c) {
    return std::tuple{command_field("share_id", c.share_id)};
}
inline auto command_fields(Command::RedeemInviteCode& c) { return std::tuple{command_field("code", c.code)}; }
inline auto command_fields(Command::GenerateToken& c) {
    return std::tuple{command_field("service", c.service)};
}
inline auto command_fields(Command::WatchNicks& c) { return std::tuple{command_field("nicks", c.nicks)}; }
inline auto command_fields(Command::UnwatchNicks& c) { return std::tuple{command_field("nicks", c.nicks)}; }
inline auto command_fields(Command::SendVoiceSignal& c) {
    return std::tuple{command_field("channel", c.channel), command_field("signal", c.signal)};
}
inline auto command_fields(Command::Quit& c) { return std::tuple{command_field("reason", c.reason)}; }
inline auto command_fields(Command::SendRawLine& c) { return std::tuple{command_field("line", c.line)}; }

}  // namespace tessel
