#include "tessel_client/formats/event_json.hpp"

#include <array>

#include "tessel_client/formats/json_writer.hpp"
#include "tessel_client/voice/signal_json.hpp"

namespace tessel {
namespace {

constexpr std::array<std::string_view, 6> kSaslFailureWords = {
    "rejected", "too_long", "aborted", "already_authenticated", "no_shared_mechanism", "server_not_verified"};
constexpr std::array<std::string_view, 3> kSeverityWords = {"fail", "warn", "note"};

constexpr std::array<std::string_view, 19> kEventTypes = {
    "capabilities_acknowledged", "registered",     "isupport_token",   "logged_in",
    "sasl_failed",               "nick_in_use",    "model_changed",    "link_dead",
    "reconnect_after",           "reconnect_abandoned", "command_timed_out", "allowed_commands_changed",
    "bots_changed",              "auth_token",     "voice",            "typing_changed",
    "presence_changed",          "server_reply",   "raw_line"};

constexpr std::array<std::string_view, 13> kChangeTypes = {
    "message_added",       "channel_joined",   "channel_parted",  "channel_members_changed",
    "channel_topic_changed", "nick_changed",   "channel_modes_changed", "read_marker_moved",
    "message_reacted",     "message_redacted", "metadata_changed", "whois_received",
    "channel_renamed"};

static_assert(kEventTypes.size() == std::variant_size_v<decltype(Event::value)>);
static_assert(kChangeTypes.size() == std::variant_size_v<decltype(Change::value)>);

template <class Out>
void type_member(std::string_view word, Out& out) {
    out += "{\"type\":\"";
    out += word;
    out += '"';
}

template <class Out>
struct WriteChange {
    Out& out;
    void operator()(const Change::MessageAdded& c) const {
        text_member("target", c.target, out);
        out += ",\"key\":";
        write_message_key(c.key, out);
    }
    void operator()(const Change::ChannelJoined& c) const { text_member("channel", c.channel, out); }
    void operator()(const Change::ChannelParted& c) const { text_member("channel", c.channel, out); }
    void operator()(const Change::ChannelMembersChanged& c) const { text_member("channel", c.channel, out); }
    void operator()(const Change::ChannelTopicChanged& c) const { text_member("channel", c.channel, out); }
    void operator()(const Change::NickChanged& c) const {
        text_member("from", c.from, out);
        text_member("to", c.to, out);
    }
    void operator()(const Change::ChannelModesChanged& c) const { text_member("channel", c.channel, out); }
    void operator()(const Change::ReadMarkerMoved& c) const { text_member("target", c.target, out); }
    void operator()(const Change::MessageReacted& c) const {
        text_member("target", c.target, out);
        text_member("msgid", c.msgid, out);
    }
    void operator()(const Change::MessageRedacted& c) const {
        text_member("target", c.target, out);
        text_member("msgid", c.msgid, out);
    }
    void operator()(const Change::MetadataChanged& c) const {
        text_member("target", c.target, out);
        text_member("key", c.key, out);
    }
    void operator()(const Change::WhoisReceived& c) const { text_member("nick", c.nick, out); }
    void operator()(const Change::ChannelRenamed& c) const {
        text_member("from", c.from, out);
        text_member("to", c.to, out);
    }
};

template <class Out>
void write_message(const IrcMessage& m, Out& out) {
    out += "{\"tags\":[";
    for (std::size_t i = 0; i < m.tags.size(); ++i) {
        if (i != 0) out += ',';
        out += "{\"key\":";
        write_json_text(m.tags[i].key, out);
        out += ",\"value\":";
        write_json_optional_text(m.tags[i].value, out);
        out += '}';
    }
    out += "],\"source\":";
    if (m.source) {
        out += "{\"name\":";
        write_json_text(m.source->name, out);
        out += ",\"user\":";
        write_json_optional_text(m.source->user, out);
        out += ",\"host\":";
        write_json_optional_text(m.source->host, out);
        out += '}';
    } else {
        out += "null";
    }
    out += ",\"command\":";
    write_json_text(m.command, out);
    out += ",\"params\":";
    write_json_text_list(m.params, out);
    out += '}';
}

template <class Out>
struct WriteEvent {
    Out& out;
    void operator()(const Event::CapabilitiesAcknowledged& e) const {
        out += ",\"names\":";
        write_json_text_list(e.names, out);
    }
    void operator()(const Event::Registered& e) const { text_member("nick", e.nick, out); }
    void operator()(const Event::IsupportToken& e) const {
        text_member("token", e.token, out);
        out += ",\"value\":";
        write_json_optional_text(e.value, out);
    }
    void operator()(const Event::LoggedIn& e) const { text_member("account", e.account, out); }
    void operator()(const Event::SaslFailed& e) const {
        out += ",\"reason\":\"";
        out += sasl_failure_word(e.reason);
        out += '"';
    }
    void operator()(const Event::NickInUse& e) const {
        text_member("refused", e.refused, out);
        text_member("trying", e.trying, out);
    }
    void operator()(const Event::ModelChanged& e) const {
        out += ",\"change\":";
        type_member(kChangeTypes[e.change.value.index()], out);
        std::visit(WriteChange<Out>{out}, e.change.value);
        out += '}';
    }
    void operator()(const Event::LinkDead&) const {}
    void operator()(const Event::ReconnectAfter& e) const {
        out += ",\"after_ms\":";
        write_json_u64(e.after_ms, out);
    }
    void operator()(const Event::ReconnectAbandoned&) const {}
    void operator()(const Event::CommandTimedOut& e) const { text_member("command", e.command, out); }
    void operator()(const Event::AllowedCommandsChanged&) const {}
    void operator()(const Event::BotsChanged& e) const { text_member("nick", e.nick, out); }
    void operator()(const Event::AuthToken& e) const {
        text_member("service", e.service, out);
        text_member("endpoint", e.endpoint, out);
        text_member("token", e.token, out);
    }
    void operator()(const Event::Voice& e) const {
        text_member("channel", e.channel, out);
        out += ",\"signal\":";
        write_signal(e.signal, out);
    }
    void operator()(const Event::TypingChanged& e) const {
        text_member("target", e.target, out);
        text_member("nick", e.nick, out);
        out += ",\"active\":";
        write_json_bool(e.active, out);
    }
    void operator()(const Event::PresenceChanged& e) const {
        text_member("nick", e.nick, out);
        out += ",\"online\":";
        write_json_bool(e.online, out);
    }
    void operator()(const Event::ServerReply& e) const {
        out += ",\"severity\":\"";
        out += reply_severity_word(e.severity);
        out += '"';
        text_member("command", e.command, out);
        text_member("code", e.code, out);
        out += ",\"context\":";
        write_json_text_list(e.context, out);
        text_member("text", e.text, out);
    }
    void operator()(const Event::RawLine& e) const {
        out += ",\"message\":";
        write_message(e.message, out);
    }
};

template <class Out>
void write_event(const Event& event, Out& out) {
    type_member(kEventTypes[event.value.index()], out);
    std::visit(WriteEvent<Out>{out}, event.value);
    out += '}';
}

}  // namespace

std::string_view sasl_failure_word(SaslFailure reason) {
    const auto i = static_cast<std::size_t>(reason);
    return i < kSaslFailureWords.size() ? kSaslFailureWords[i] : kSaslFailureWords[0];
}

std::string_view reply_severity_word(ReplySeverity severity) {
    const auto i = static_cast<std::size_t>(severity);
    return i < kSeverityWords.size() ? kSeverityWords[i] : kSeverityWords[0];
}

std::string_view event_type_word(std::size_t index) { return kEventTypes[index]; }
std::string_view change_type_word(std::size_t index) { return kChangeTypes[index]; }

void message_key_to_json(const MessageKey& key, std::string& out) { write_message_key(key, out); }

void event_to_json(const Event& event, std::string& out) { write_event(event, out); }

std::string events_to_json(std::span<const Event> events) {
    return write_sized([&](auto& out) {
        out += '[';
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (i != 0) out += ',';
            write_event(events[i], out);
        }
        out += ']';
    });
}

}  // namespace tessel
