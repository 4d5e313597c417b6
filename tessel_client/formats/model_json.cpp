#include "tessel_client/formats/model_json.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>
#include <vector>

#include "tessel_client/formats/event_json.hpp"
#include "tessel_client/formats/json_writer.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {
namespace {

constexpr std::array<std::string_view, std::variant_size_v<MessageKind::Value>> kKindWords = {
    "privmsg", "notice", "ctcp", "tagmsg", "join", "part", "quit", "kick", "nick", "topic", "mode"};

// Maps keyed by text: "{" key ":" value, ... "}" in key order (std::less on bytes).
template <class Map, class Out, class WriteValue>
void write_map(const Map& map, Out& out, WriteValue&& write_value) {
    out += '{';
    bool first = true;
    for (const auto& [key, value] : map) {
        if (!first) out += ',';
        first = false;
        write_json_text(key, out);
        out += ':';
        write_value(value);
    }
    out += '}';
}

template <class Out>
void metadata_to(const TextMap& metadata, Out& out) {
    write_map(metadata, out, [&](const std::string& v) { write_json_text(v, out); });
}

template <class Out>
void write_boxed_text(const Boxed<std::string>& text, Out& out) {
    if (text)
        write_json_text(*text, out);
    else
        out += std::string_view("null");
}

template <class Out>
void typing_to(const FoldedSet& typing, Out& out) {
    out += '[';
    bool first = true;
    for (const auto& nick : typing) {
        if (!first) out += ',';
        first = false;
        write_json_text(nick, out);
    }
    out += ']';
}

template <class Out>
void retention_to(std::uint64_t retention, Out& out) {
    out += ",\"retention\":";
    write_json_u64(retention, out);
}

template <class Out>
void write_message(const LogMessage& m, const MessageExtras* extras, Out& out);

}  // namespace

std::vector<MsgidOrder> msgids_in_order(const MessageLog& log) {
    // Sorted by their first eight bytes as a number first: msgids nearly always differ there.
    struct Id {
        std::uint64_t prefix;
        MsgidOrder entry;
    };
    std::vector<Id> ids;
    ids.reserve(log.by_msgid.size());
    std::size_t position = 0;
    for (const LogMessage& message : log.messages) {
        if (auto id = message.msgid()) {
            unsigned char head[8] = {};
            std::memcpy(head, id->data(), std::min<std::size_t>(8, id->size()));
            std::uint64_t prefix = 0;
            for (unsigned char byte : head) prefix = prefix << 8 | byte;
            ids.push_back(Id{prefix, MsgidOrder{*id, &message, position}});
        }
        ++position;
    }
    std::sort(ids.begin(), ids.end(), [](const Id& a, const Id& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : a.entry.msgid < b.entry.msgid;
    });
    std::vector<MsgidOrder> order;
    order.reserve(ids.size());
    for (const Id& id : ids) order.push_back(id.entry);
    return order;
}

namespace {

template <class Out>
void log_to(const MessageLog& log, Out& out) {
    out += "{\"messages\":[";
    bool first = true;
    for (const LogMessage& message : log.messages) {
        if (!first) out += ',';
        first = false;
        write_message(message, log.extras(message), out);
    }
    out += "],\"by_msgid\":{";
    // The index holds every stored msgid once, unordered; the snapshot lists it in byte
    // order of msgid, taken from the messages themselves. Sizing needs no order.
    bool first_id = true;
    auto write_id = [&](std::string_view id, const MessageKey& key) {
        if (!first_id) out += ',';
        first_id = false;
        write_json_text(id, out);
        out += ':';
        write_message_key(key, out);
    };
    if constexpr (std::is_same_v<Out, JsonSizer>) {
        for (const LogMessage& message : log.messages)
            if (auto id = message.msgid()) write_id(*id, message.key);
    } else {
        for (const MsgidOrder& id : msgids_in_order(log)) write_id(id.msgid, id.message->key);
    }
    out += '}';
    retention_to(log.retention, out);
    out += '}';
}

template <class Out>
void write_kind(std::size_t kind, std::string_view text, Out& out) {
    out += "{\"type\":\"";
    out += kKindWords[kind];
    out += '"';
    if (kind == message_kind_index<MessageKind::Ctcp>) {
        out += ",\"command\":";
        write_json_text(text, out);
    } else if (kind == message_kind_index<MessageKind::Kick>) {
        out += ",\"target\":";
        write_json_text(text, out);
    } else if (kind == message_kind_index<MessageKind::Nick>) {
        out += ",\"new_nick\":";
        write_json_text(text, out);
    }
    out += '}';
}

template <class Out>
void write_optional_view(const std::optional<std::string_view>& text, Out& out) {
    if (text)
        write_json_text(*text, out);
    else
        out += "null";
}

template <class Out>
void write_message(const LogMessage& stored, const MessageExtras* extras, Out& out) {
    const MessageView m = stored.view();
    out += "{\"key\":";
    write_message_key(m.key, out);
    out += ",\"msgid\":";
    write_optional_view(m.msgid, out);
    out += ",\"sender\":";
    write_json_text(m.sender, out);
    out += ",\"kind\":";
    write_kind(m.kind, m.kind_text, out);
    out += ",\"text\":";
    write_json_text(m.text, out);
    out += ",\"account\":";
    write_optional_view(m.account, out);
    out += ",\"historical\":";
    write_json_bool(m.historical, out);
    out += ",\"own\":";
    write_json_bool(m.own, out);
    out += ",\"reply_to\":";
    write_optional_view(m.reply_to, out);
    out += ",\"reactions\":";
    if (extras != nullptr)
        write_map(extras->reactions, out, [&](const UniqueList& nicks) { write_json_text_list(nicks, out); });
    else
        out += "{}";
    out += ",\"link_preview\":";
    if (extras != nullptr && extras->link_preview) {
        const LinkPreview& preview = *extras->link_preview;
        out += "{\"title\":";
        write_json_text(preview.title, out);
        out += ",\"snippet\":";
        write_json_optional_text(preview.snippet, out);
        out += ",\"image\":";
        write_json_optional_text(preview.image, out);
        out += '}';
    } else {
        out += "null";
    }
    out += ",\"redacted\":";
    write_json_bool(m.redacted, out);
    out += '}';
}

template <class Out>
void write_channel(const Channel& c, Out& out) {
    out += "{\"name\":";
    write_json_text(c.name, out);
    out += ",\"topic\":";
    write_json_optional_text(c.topic, out);
    out += ",\"topic_by\":";
    write_json_optional_text(c.topic_by, out);
    out += ",\"modes\":{";
    bool first = true;
    std::string letter;
    for (const auto& [mode, param] : c.modes) {
        if (!first) out += ',';
        first = false;
        letter.clear();
        utf8_append(mode, letter);
        write_json_text(letter, out);
        out += ':';
        write_json_optional_text(param, out);
    }
    out += "},\"members\":";
    write_map(c.members, out, [&](const Member& m) {
        out += "{\"prefixes\":";
        write_json_text(m.prefixes, out);
        out += '}';
    });
    out += ",\"log\":";
    log_to(c.log, out);
    out += ",\"unread\":";
    write_json_u64(c.unread, out);
    out += ",\"mentions\":";
    write_json_u64(c.mentions, out);
    out += ",\"metadata\":";
    metadata_to(c.metadata, out);
    out += ",\"read_marker\":";
    write_json_optional_text(c.read_marker, out);
    out += ",\"typing\":";
    typing_to(c.typing, out);
    out += ",\"named_modes\":";
    write_map(c.named_modes, out, [&](const std::optional<std::string>& v) { write_json_optional_text(v, out); });
    out += '}';
}

template <class Out>
void write_conversation(const Conversation& c, Out& out) {
    out += "{\"nick\":";
    write_json_text(c.nick, out);
    out += ",\"log\":";
    log_to(c.log, out);
    out += ",\"unread\":";
    write_json_u64(c.unread, out);
    out += ",\"read_marker\":";
    write_json_optional_text(c.read_marker, out);
    out += ",\"typing\":";
    typing_to(c.typing, out);
    out += '}';
}

template <class Out>
void write_person(const Person& p, Out& out) {
    out += "{\"nick\":";
    write_json_text(p.nick, out);
    out += ",\"account\":";
    write_boxed_text(p.account, out);
    out += ",\"away\":";
    write_boxed_text(p.away, out);
    out += ",\"bot\":";
    write_json_bool(p.bot, out);
    out += ",\"username\":";
    write_boxed_text(p.username, out);
    out += ",\"host\":";
    write_boxed_text(p.host, out);
    out += ",\"realname\":";
    write_boxed_text(p.realname, out);
    out += ",\"operator\":";
    write_json_bool(p.operator_, out);
    out += ",\"metadata\":";
    metadata_to(p.metadata, out);
    out += '}';
}

template <class Out>
void write_whois(const WhoisRecord& w, Out& out) {
    out += "{\"nick\":";
    write_json_text(w.nick, out);
    out += ",\"username\":";
    write_json_optional_text(w.username, out);
    out += ",\"host\":";
    write_json_optional_text(w.host, out);
    out += ",\"realname\":";
    write_json_optional_text(w.realname, out);
    out += ",\"server\":";
    write_json_optional_text(w.server, out);
    out += ",\"server_info\":";
    write_json_optional_text(w.server_info, out);
    out += ",\"operator\":";
    write_json_optional_text(w.operator_, out);
    out += ",\"idle_secs\":";
    write_json_optional_u64(w.idle_secs, out);
    out += ",\"signon_ms\":";
    write_json_optional_u64(w.signon_ms, out);
    out += ",\"channels\":";
    write_json_text_list(w.channels, out);
    out += ",\"account\":";
    write_json_optional_text(w.account, out);
    out += ",\"actual_host\":";
    write_json_optional_text(w.actual_host, out);
    out += ",\"secure\":";
    write_json_bool(w.secure, out);
    out += ",\"complete\":";
    write_json_bool(w.complete, out);
    out += '}';
}

template <class Out>
void write_model(const Model& model, Out& out) {
    const OwnUser& me = model.me;
    out += "{\"me\":{\"nick\":";
    write_json_text(me.nick, out);
    out += ",\"account\":";
    write_json_optional_text(me.account, out);
    out += ",\"modes\":";
    write_json_text(me.modes, out);
    out += ",\"metadata\":";
    metadata_to(me.metadata, out);
    out += ",\"away\":";
    write_json_optional_text(me.away, out);
    out += "},\"channels\":";
    write_map(model.channels, out, [&](const Channel& c) { write_channel(c, out); });
    out += ",\"conversations\":";
    write_map(model.conversations, out, [&](const Conversation& c) { write_conversation(c, out); });
    out += ",\"people\":";
    write_map(model.people, out, [&](const Person& p) { write_person(p, out); });
    out += ",\"whois\":";
    write_map(model.whois, out, [&](const WhoisRecord& w) { write_whois(w, out); });
    retention_to(model.retention, out);
    out += ",\"next_seq\":";
    write_json_u64(model.next_seq, out);
    out += '}';
}

}  // namespace

std::string_view message_kind_word(std::size_t kind) { return kKindWords[kind]; }

void metadata_to_json(const TextMap& metadata, std::string& out) { metadata_to(metadata, out); }
void typing_to_json(const FoldedSet& typing, std::string& out) { typing_to(typing, out); }
void retention_to_json(std::uint64_t retention, std::string& out) { retention_to(retention, out); }
void message_log_to_json(const MessageLog& log, std::string& out) { log_to(log, out); }

std::string model_to_json(const Model& model) {
    return write_sized([&](auto& out) { write_model(model, out); });
}

}  // namespace tessel
