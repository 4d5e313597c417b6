// The command executor: one handler per Command variant, each building its message (or, for
// watch lists, handing the nicks to the MONITOR code) and choosing the send path.
//
// Strategy: a command is first checked whole (command_check.cpp), so a field that would reshape
// its line refuses it before any state changes. Then every handler takes its command by
// value-reference and moves the strings out of it into the message, with the line writer
// keeping it to one line. Chat messages take the chat path (labelled, then the local echo),
// watch lists the MONITOR path (never labelled), everything else the labelled path. Each
// line waits for registration (held_lines.cpp), raw lines and invitation codes excepted, and
// NICK and QUIT given while a link is up.
#include <string>
#include <utility>
#include <vector>

#include "tessel_client/engine/ascii.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/protocol/casemapping.hpp"
#include "tessel_client/protocol/server_time.hpp"
#include "tessel_client/voice/signal_wire.hpp"

namespace tessel {
namespace {

// The message with `last` as one more parameter when it is present.
IrcMessage with_optional(IrcMessage message, std::optional<std::string>& last) {
    if (last) message.params.push_back(std::move(*last));
    return message;
}

void set_tag(IrcMessage& message, std::string_view key, std::string value) {
    upsert_tag(message.tags, Tag{std::string(key), std::move(value)});
}

struct Executor {
    Engine& engine;

    void labeled(IrcMessage&& message) const { engine.send_labeled(std::move(message)); }

    // A nick the host sends while we register goes out at once and answers the refusals
    // itself: a try of the fallback after it, for a late refusal of an earlier try, would
    // rename what the server registers. Given while down it waits, and the next link's
    // fallback starts over.
    void host_sends_nick() const {
        if (engine.link == LinkState::Negotiating || engine.link == LinkState::Registering)
            engine.nick_fallback.given_up = true;
    }

    template <class Reaction>
    void react(std::string_view key, Reaction& c) const {
        IrcMessage message = IrcMessage::make("TAGMSG", std::move(c.target));
        set_tag(message, key, std::move(c.emoji));
        set_tag(message, "+draft/reply", std::move(c.msgid));
        labeled(std::move(message));
    }

    void operator()(Command::Join& c) const {
        std::string folded = irc_fold(engine.isupport.casemapping, c.channel);
        if (c.key) {
            engine.channel_keys.insert_or_assign(std::move(folded), *c.key);
        } else if (auto it = engine.channel_keys.find(folded); it != engine.channel_keys.end()) {
            engine.channel_keys.erase(it);
        }
        labeled(with_optional(IrcMessage::make("JOIN", std::move(c.channel)), c.key));
    }
    void operator()(Command::Part& c) const {
        labeled(with_optional(IrcMessage::make("PART", std::move(c.channel)), c.reason));
    }
    void operator()(Command::SendMessage& c) const {
        engine.send_chat(IrcMessage::make("PRIVMSG", std::move(c.target), std::move(c.text)));
    }
    void operator()(Command::SendNotice& c) const {
        engine.send_chat(IrcMessage::make("NOTICE", std::move(c.target), std::move(c.text)));
    }
    void operator()(Command::SendAction& c) const {
        std::string framed;
        framed.reserve(c.text.size() + 9);
        framed += "\x01" "ACTION ";
        framed += c.text;
        framed += '\x01';
        engine.send_chat(IrcMessage::make("PRIVMSG", std::move(c.target), std::move(framed)));
    }
    void operator()(Command::SetNick& c) const {
        // The nick we hold changes only when the server confirms it.
        host_sends_nick();
        engine.send_labeled(IrcMessage::make("NICK", std::move(c.nick)), Sending::UnlessDown);
    }
    void operator()(Command::SetTopic& c) const {
        // An empty topic parameter is how a topic is cleared.
        labeled(IrcMessage::make("TOPIC", std::move(c.channel), c.topic ? std::move(*c.topic) : std::string()));
    }
    void operator()(Command::SetAway& c) const { labeled(with_optional(IrcMessage::make("AWAY"), c.message)); }
    void operator()(Command::SetTyping& c) const {
        IrcMessage message = IrcMessage::make("TAGMSG", std::move(c.target));
        set_tag(message, "+typing", std::string(typing_word(c.state)));
        labeled(std::move(message));
    }
    void operator()(Command::AddReaction& c) const { react("+draft/react", c); }
    void operator()(Command::RemoveReaction& c) const { react("+draft/unreact", c); }
    void operator()(Command::RedactMessage& c) const {
        labeled(with_optional(IrcMessage::make("REDACT", std::move(c.target), std::move(c.msgid)), c.reason));
    }
    void operator()(Command::MarkRead& c) const {
        labeled(IrcMessage::make("MARKREAD", std::move(c.target), "timestamp=" + format_server_time(c.at_ms)));
    }
    void operator()(Command::FetchHistory& c) const {
        std::string limit = std::to_string(c.limit);
        if (c.before_msgid)
            labeled(IrcMessage::make("CHATHISTORY", "BEFORE", std::move(c.target), "msgid=" + *c.before_msgid,
                                     std::move(limit)));
        else
            labeled(IrcMessage::make("CHATHISTORY", "LATEST", std::move(c.target), "*", std::move(limit)));
    }
    void operator()(Command::SetMetadata& c) const {
        labeled(with_optional(IrcMessage::make("METADATA", "*", "SET", std::move(c.key)), c.value));
    }
    void operator()(Command::SubscribeMetadata& c) const {
        // Every key goes out, also those held already, so the server's answer covers them all.
        for (const std::string& key : c.keys) engine.metadata_keys.insert(key);
        std::vector<std::string> params;
        params.reserve(c.keys.size() + 2);
        params.emplace_back("*");
        params.emplace_back("SUB");
        for (std::string& key : c.keys) params.push_back(std::move(key));
        labeled(IrcMessage::make("METADATA", std::move(params)));
    }
    void operator()(Command::Whois& c) const { labeled(IrcMessage::make("WHOIS", std::move(c.nick))); }
    void operator()(Command::RenameChannel& c) const {
        labeled(with_optional(IrcMessage::make("RENAME", std::move(c.channel), std::move(c.new_name)), c.reason));
    }
    void operator()(Command::CreateInviteLink& c) const {
        std::vector<std::string> params{"CREATE"};
        // A description alone still needs a channel slot in front of it.
        if (c.channel)
            params.push_back(std::move(*c.channel));
        else if (c.description)
            params.emplace_back("*");
        labeled(with_optional(IrcMessage::make("INVITELINK", std::move(params)), c.description));
    }
    void operator()(Command::ListInviteLinks&) const { labeled(IrcMessage::make("INVITELINK", "LIST")); }
    void operator()(Command::DeleteInviteLink& c) const {
        labeled(IrcMessage::make("INVITELINK", "DELETE", std::move(c.share_id)));
    }
    void operator()(Command::RedeemInviteCode& c) const {
        // A code is redeemed before registering: it is what may let the registration through.
        engine.send_labeled(IrcMessage::make("INVITECODE", std::move(c.code)), Sending::AtOnce);
    }
    void operator()(Command::GenerateToken& c) const {
        labeled(IrcMessage::make("TOKEN", "GENERATE", std::move(c.service)));
    }
    void operator()(Command::WatchNicks& c) const { engine.update_monitor(c.nicks, true); }
    void operator()(Command::UnwatchNicks& c) const { engine.update_monitor(c.nicks, false); }
    void operator()(Command::SendVoiceSignal& c) const {
        // Neither the capability nor the size is checked: the frame is the host's business.
        IrcMessage message = IrcMessage::make("TAGMSG", std::move(c.channel));
        set_tag(message, "+vantaweb/rtc", signal_to_wire(c.signal));
        labeled(std::move(message));
    }
    void operator()(Command::Quit& c) const {
        engine.send_labeled(with_optional(IrcMessage::make("QUIT"), c.reason), Sending::UnlessDown);
    }
    void operator()(Command::SendRawLine& c) const {
        // A line that does not parse has nothing to send: it is dropped without a trace. One that
        // does goes out at once, as it may be a line the server must see before registration.
        if (std::optional<IrcMessage> parsed = parse_line(c.line)) {
            if (ascii_iequal(parsed->command, "NICK")) host_sends_nick();
            engine.send_labeled(std::move(*parsed), Sending::AtOnce);
        }
    }
};

}  // namespace

std::optional<CommandRefusal> Engine::execute(Command command) {
    if (std::optional<CommandRefusal> refusal = command_refusal(command)) return refusal;
    std::visit(Executor{*this}, command.value);
    return std::nullopt;
}

}  // namespace tessel
