#include "tessel_client_py/snapshot.hpp"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "tessel_client/formats/event_json.hpp"
#include "tessel_client/formats/model_json.hpp"
#include "tessel_client/protocol/utf8.hpp"
#include "tessel_client_py/frame.hpp"

namespace tessel::py {
namespace {

// ---- Member names ---------------------------------------------------------------------------
// Interned once and kept for the life of the process, like the Client type: every snapshot
// and every drained batch uses the same few dozen names.

enum Key : std::size_t {
    kMe, kChannels, kConversations, kPeople, kWhois, kRetention, kNextSeq,
    kNick, kAccount, kModes, kMetadata, kAway,
    kName, kTopic, kTopicBy, kMembers, kLog, kUnread, kMentions, kReadMarker, kTyping, kNamedModes,
    kPrefixes, kBot, kUsername, kHost, kRealname, kOperator,
    kServer, kServerInfo, kIdleSecs, kSignonMs, kActualHost, kSecure, kComplete,
    kMessages, kByMsgid, kKey, kMsgid, kSender, kKind, kText, kHistorical, kOwn, kReplyTo,
    kReactions, kLinkPreview, kRedacted, kTitle, kSnippet, kImage, kTimeMs, kSeq,
    kType, kCommand, kTarget, kNewNick,
    kNames, kToken, kValue, kReason, kRefused, kTrying, kChange, kAfterMs, kService, kEndpoint,
    kChannel, kActive, kOnline, kSeverity, kCode, kContext, kMessage, kTags, kSource, kUser,
    kParams, kFrom, kTo,
    kKeyCount,
};

constexpr std::array<const char*, kKeyCount> kKeyNames = {
    "me", "channels", "conversations", "people", "whois", "retention", "next_seq",
    "nick", "account", "modes", "metadata", "away",
    "name", "topic", "topic_by", "members", "log", "unread", "mentions", "read_marker", "typing", "named_modes",
    "prefixes", "bot", "username", "host", "realname", "operator",
    "server", "server_info", "idle_secs", "signon_ms", "actual_host", "secure", "complete",
    "messages", "by_msgid", "key", "msgid", "sender", "kind", "text", "historical", "own", "reply_to",
    "reactions", "link_preview", "redacted", "title", "snippet", "image", "time_ms", "seq",
    "type", "command", "target", "new_nick",
    "names", "token", "value", "reason", "refused", "trying", "change", "after_ms", "service", "endpoint",
    "channel", "active", "online", "severity", "code", "context", "message", "tags", "source", "user",
    "params", "from", "to",
};

constexpr std::size_t kKindCount = std::variant_size_v<MessageKind::Value>;
constexpr std::size_t kEventCount = std::variant_size_v<decltype(Event::value)>;
constexpr std::size_t kChangeCount = std::variant_size_v<decltype(Change::value)>;

struct Names {
    std::array<PyObject*, kKeyCount> keys{};
    // The "type" words of events, changes and message kinds: one in every event and message.
    std::array<PyObject*, kEventCount> events{};
    std::array<PyObject*, kChangeCount> changes{};
    std::array<PyObject*, kKindCount> kinds{};
    // A stored message with every member at its most common value, in order: a copy of it is a
    // dict of the right size with its members in place, far cheaper than growing a new one
    // member by member, and only the members that differ are set. (For the small dicts a copy
    // costs what filling a new one does.)
    PyObject* message_shape = nullptr;
};

Names g_names;
bool g_names_ready = false;

bool intern_into(PyObject*& slot, std::string_view word) {
    if (slot) return true;
    slot = PyUnicode_FromStringAndSize(word.data(), static_cast<Py_ssize_t>(word.size()));
    if (slot) PyUnicode_InternInPlace(&slot);
    return slot != nullptr;
}

struct ShapeMember {
    Key key;
    PyObject* value;  // borrowed
};

bool shape_into(PyObject*& slot, std::initializer_list<ShapeMember> members) {
    if (slot) return true;
    PyRef shape(PyDict_New());
    if (!shape) return false;
    for (const ShapeMember& m : members)
        if (PyDict_SetItem(shape.get(), g_names.keys[m.key], m.value) < 0) return false;
    slot = shape.release();
    return true;
}

// False with MemoryError set; what was made stays for the next try.
bool names_ready() {
    if (g_names_ready) return true;
    Names& n = g_names;
    for (std::size_t i = 0; i < kKeyCount; ++i)
        if (!intern_into(n.keys[i], kKeyNames[i])) return false;
    for (std::size_t i = 0; i < kEventCount; ++i)
        if (!intern_into(n.events[i], event_type_word(i))) return false;
    for (std::size_t i = 0; i < kChangeCount; ++i)
        if (!intern_into(n.changes[i], change_type_word(i))) return false;
    for (std::size_t i = 0; i < kKindCount; ++i)
        if (!intern_into(n.kinds[i], message_kind_word(i))) return false;
    if (!shape_into(n.message_shape, {{kKey, Py_None}, {kMsgid, Py_None}, {kSender, Py_None}, {kKind, Py_None},
                                      {kText, Py_None}, {kAccount, Py_None}, {kHistorical, Py_False},
                                      {kOwn, Py_False}, {kReplyTo, Py_None}, {kReactions, Py_None},
                                      {kLinkPreview, Py_None}, {kRedacted, Py_False}}))
        return false;
    g_names_ready = true;
    return true;
}

PyObject* name(Key key) { return g_names.keys[key]; }

// ---- Values ---------------------------------------------------------------------------------
// Each returns a new reference, or null with the exception set.

PyObject* text(std::string_view s) {
    // Strict UTF-8, as decoding the whole JSON text would be.
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}

PyObject* none() { return Py_NewRef(Py_None); }

template <class Text>
PyObject* optional_text(const std::optional<Text>& s) {
    return s ? text(*s) : none();
}

PyObject* optional_text(const Boxed<std::string>& s) { return s ? text(*s) : none(); }

PyObject* number(std::uint64_t value) { return PyLong_FromUnsignedLongLong(value); }

PyObject* optional_number(const std::optional<std::uint64_t>& value) { return value ? number(*value) : none(); }

PyObject* boolean(bool value) { return Py_NewRef(value ? Py_True : Py_False); }

PyObject* word(PyObject* interned) { return Py_NewRef(interned); }

// ---- Containers -----------------------------------------------------------------------------

// A dict filled member by member. `set` takes over the value it is given (a new reference, or
// null when making it failed), so a chain `r && r.set(..) && r.set(..)` stops at the first
// failure, makes nothing after it and leaks nothing.
class Record {
public:
    Record() : dict_(PyDict_New()) {}
    explicit Record(PyObject* shape) : dict_(PyDict_Copy(shape)) {}
    explicit operator bool() const { return static_cast<bool>(dict_); }
    bool set(PyObject* key, PyObject* value) {
        PyRef owned(value);
        return owned && PyDict_SetItem(dict_.get(), key, owned.get()) == 0;
    }
    bool set(Key key, PyObject* value) { return set(name(key), value); }
    PyObject* release() { return dict_.release(); }

private:
    PyRef dict_;
};

// A list of `items.size()` entries, each made by `make`; null at the first failure.
template <class Items, class Make>
PyObject* list_of(const Items& items, Make&& make) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& item : items) {
        PyObject* value = make(item);
        // PyList_SetItem takes the reference even when it fails.
        if (!value || PyList_SetItem(list.get(), i++, value) < 0) return nullptr;
    }
    return list.release();
}

template <class Items>
PyObject* text_list(const Items& items) {
    return list_of(items, [](const std::string& s) { return text(s); });
}

// A dict keyed by text, in the map's own order (the snapshot's byte order of keys).
template <class Map, class Make>
PyObject* map_of(const Map& map, Make&& make) {
    Record r;
    if (!r) return nullptr;
    for (const auto& [key, value] : map) {
        PyRef k(text(key));
        if (!k || !r.set(k.get(), make(value))) return nullptr;
    }
    return r.release();
}

PyObject* metadata(const TextMap& map) {
    return map_of(map, [](const std::string& v) { return text(v); });
}

PyObject* typing(const FoldedSet& set) {
    return list_of(set, [](const std::string& s) { return text(s); });
}

// ---- Model records --------------------------------------------------------------------------

PyObject* message_key(const MessageKey& key) {
    Record r;
    if (!(r && r.set(kTimeMs, number(key.time_ms)) && r.set(kSeq, number(key.seq)))) return nullptr;
    return r.release();
}

// The member a message kind has besides "type" (kKeyCount for none).
Key kind_member(std::size_t kind) {
    if (kind == message_kind_index<MessageKind::Ctcp>) return kCommand;
    if (kind == message_kind_index<MessageKind::Kick>) return kTarget;
    if (kind == message_kind_index<MessageKind::Nick>) return kNewNick;
    return kKeyCount;
}

PyObject* message_kind(std::size_t kind, std::string_view kind_text) {
    const Key own = kind_member(kind);
    Record r;
    if (!(r && r.set(kType, word(g_names.kinds[kind])) && (own == kKeyCount || r.set(own, text(kind_text)))))
        return nullptr;
    return r.release();
}

// Texts that repeat within one result (senders, accounts, channel names) are made once: one
// str serves every place, as an immutable value may. The views stay valid while the result is
// built, the records being held still.
class TextCache {
public:
    TextCache() = default;
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;
    ~TextCache() {
        for (const auto& [view, made] : made_) Py_DECREF(made);
    }
    PyObject* operator()(std::string_view s) {
        auto [at, fresh] = made_.try_emplace(s, nullptr);
        if (fresh) {
            at->second = text(s);
            if (!at->second) {
                made_.erase(at);
                return nullptr;
            }
        }
        return Py_NewRef(at->second);
    }

private:
    std::unordered_map<std::string_view, PyObject*> made_;
};

PyObject* reactions(const MessageExtras* extras) {
    if (!extras) return PyDict_New();
    return map_of(extras->reactions, [](const UniqueList& nicks) { return text_list(nicks); });
}

PyObject* link_preview(const LinkPreview& p) {
    Record r;
    if (!(r && r.set(kTitle, text(p.title)) && r.set(kSnippet, optional_text(p.snippet)) &&
          r.set(kImage, optional_text(p.image))))
        return nullptr;
    return r.release();
}

// What by_msgid reuses of a message: its msgid and key, borrowed from its dict.
struct MadeMessage {
    PyObject* msgid = nullptr;
    PyObject* key = nullptr;
};

// Members holding the shape's value (None, false) are left as the copy has them.
PyObject* message(const LogMessage& stored, const MessageExtras* extras, TextCache& cache, MadeMessage& made) {
    const MessageView m = stored.view();
    Record r(g_names.message_shape);
    if (!r) return nullptr;
    PyRef key(message_key(m.key));
    PyRef msgid(m.msgid ? text(*m.msgid) : none());
    if (!key || !msgid) return nullptr;
    made.key = key.get();
    made.msgid = msgid.get();
    if (!(r.set(kKey, key.release()) && (!m.msgid || r.set(kMsgid, msgid.release())) &&
          r.set(kSender, cache(m.sender)) && r.set(kKind, message_kind(m.kind, m.kind_text)) &&
          r.set(kText, text(m.text)) && (!m.account || r.set(kAccount, cache(*m.account))) &&
          (!m.historical || r.set(kHistorical, boolean(true))) && (!m.own || r.set(kOwn, boolean(true))) &&
          (!m.reply_to || r.set(kReplyTo, text(*m.reply_to))) && r.set(kReactions, reactions(extras)) &&
          (!extras || !extras->link_preview || r.set(kLinkPreview, link_preview(*extras->link_preview))) &&
          (!m.redacted || r.set(kRedacted, boolean(true)))))
        return nullptr;
    return r.release();
}

PyObject* message_log(const MessageLog& log, TextCache& cache) {
    std::vector<MadeMessage> made(log.messages.size());
    std::size_t at = 0;
    Record r;
    // The list is set first: it keeps the msgids and keys that by_msgid borrows alive.
    if (!(r && r.set(kMessages, list_of(log.messages, [&](const LogMessage& m) {
              return message(m, log.extras(m), cache, made[at++]);
          }))))
        return nullptr;
    Record ids;
    if (!ids) return nullptr;
    for (const MsgidOrder& entry : msgids_in_order(log)) {
        const MadeMessage& m = made[entry.position];
        if (!ids.set(m.msgid, PyDict_Copy(m.key))) return nullptr;
    }
    if (!(r.set(kByMsgid, ids.release()) && r.set(kRetention, number(log.retention)))) return nullptr;
    return r.release();
}

PyObject* channel_modes(const std::map<char32_t, std::optional<std::string>>& modes) {
    Record r;
    if (!r) return nullptr;
    std::string letter;
    for (const auto& [mode, param] : modes) {
        letter.clear();
        utf8_append(mode, letter);
        PyRef k(text(letter));
        if (!k || !r.set(k.get(), optional_text(param))) return nullptr;
    }
    return r.release();
}

PyObject* member(const Member& m) {
    Record r;
    if (!(r && r.set(kPrefixes, text(m.prefixes)))) return nullptr;
    return r.release();
}

PyObject* channel(const Channel& c, TextCache& cache) {
    Record r;
    if (!(r && r.set(kName, text(c.name)) && r.set(kTopic, optional_text(c.topic)) &&
          r.set(kTopicBy, optional_text(c.topic_by)) && r.set(kModes, channel_modes(c.modes)) &&
          r.set(kMembers, map_of(c.members, member)) && r.set(kLog, message_log(c.log, cache)) &&
          r.set(kUnread, number(c.unread)) && r.set(kMentions, number(c.mentions)) &&
          r.set(kMetadata, metadata(c.metadata)) && r.set(kReadMarker, optional_text(c.read_marker)) &&
          r.set(kTyping, typing(c.typing)) &&
          r.set(kNamedModes, map_of(c.named_modes, [](const std::optional<std::string>& v) { return optional_text(v); }))))
        return nullptr;
    return r.release();
}

PyObject* conversation(const Conversation& c, TextCache& cache) {
    Record r;
    if (!(r && r.set(kNick, text(c.nick)) && r.set(kLog, message_log(c.log, cache)) && r.set(kUnread, number(c.unread)) &&
          r.set(kReadMarker, optional_text(c.read_marker)) && r.set(kTyping, typing(c.typing))))
        return nullptr;
    return r.release();
}

PyObject* person(const Person& p) {
    Record r;
    if (!(r && r.set(kNick, text(p.nick)) && r.set(kAccount, optional_text(p.account)) &&
          r.set(kAway, optional_text(p.away)) && r.set(kBot, boolean(p.bot)) &&
          r.set(kUsername, optional_text(p.username)) && r.set(kHost, optional_text(p.host)) &&
          r.set(kRealname, optional_text(p.realname)) && r.set(kOperator, boolean(p.operator_)) &&
          r.set(kMetadata, metadata(p.metadata))))
        return nullptr;
    return r.release();
}

PyObject* whois(const WhoisRecord& w) {
    Record r;
    if (!(r && r.set(kNick, text(w.nick)) && r.set(kUsername, optional_text(w.username)) &&
          r.set(kHost, optional_text(w.host)) && r.set(kRealname, optional_text(w.realname)) &&
          r.set(kServer, optional_text(w.server)) && r.set(kServerInfo, optional_text(w.server_info)) &&
          r.set(kOperator, optional_text(w.operator_)) && r.set(kIdleSecs, optional_number(w.idle_secs)) &&
          r.set(kSignonMs, optional_number(w.signon_ms)) && r.set(kChannels, text_list(w.channels)) &&
          r.set(kAccount, optional_text(w.account)) && r.set(kActualHost, optional_text(w.actual_host)) &&
          r.set(kSecure, boolean(w.secure)) && r.set(kComplete, boolean(w.complete))))
        return nullptr;
    return r.release();
}

PyObject* own_user(const OwnUser& me) {
    Record r;
    if (!(r && r.set(kNick, text(me.nick)) && r.set(kAccount, optional_text(me.account)) &&
          r.set(kModes, text(me.modes)) && r.set(kMetadata, metadata(me.metadata)) &&
          r.set(kAway, optional_text(me.away))))
        return nullptr;
    return r.release();
}

// ---- Events -----------------------------------------------------------------------------------

struct ChangeObject {
    Record& r;
    bool operator()(const Change::MessageAdded& c) const {
        return r.set(kTarget, text(c.target)) && r.set(kKey, message_key(c.key));
    }
    bool operator()(const Change::ChannelJoined& c) const { return r.set(kChannel, text(c.channel)); }
    bool operator()(const Change::ChannelParted& c) const { return r.set(kChannel, text(c.channel)); }
    bool operator()(const Change::ChannelMembersChanged& c) const { return r.set(kChannel, text(c.channel)); }
    bool operator()(const Change::ChannelTopicChanged& c) const { return r.set(kChannel, text(c.channel)); }
    bool operator()(const Change::NickChanged& c) const { return r.set(kFrom, text(c.from)) && r.set(kTo, text(c.to)); }
    bool operator()(const Change::ChannelModesChanged& c) const { return r.set(kChannel, text(c.channel)); }
    bool operator()(const Change::ReadMarkerMoved& c) const { return r.set(kTarget, text(c.target)); }
    bool operator()(const Change::MessageReacted& c) const {
        return r.set(kTarget, text(c.target)) && r.set(kMsgid, text(c.msgid));
    }
    bool operator()(const Change::MessageRedacted& c) const {
        return r.set(kTarget, text(c.target)) && r.set(kMsgid, text(c.msgid));
    }
    bool operator()(const Change::MetadataChanged& c) const {
        return r.set(kTarget, text(c.target)) && r.set(kKey, text(c.key));
    }
    bool operator()(const Change::WhoisReceived& c) const { return r.set(kNick, text(c.nick)); }
    bool operator()(const Change::ChannelRenamed& c) const { return r.set(kFrom, text(c.from)) && r.set(kTo, text(c.to)); }
};

PyObject* change(const Change& c) {
    Record r;
    if (!(r && r.set(kType, word(g_names.changes[c.value.index()])) && std::visit(ChangeObject{r}, c.value)))
        return nullptr;
    return r.release();
}

PyObject* tag(const Tag& t) {
    Record r;
    if (!(r && r.set(kKey, text(t.key)) && r.set(kValue, optional_text(t.value)))) return nullptr;
    return r.release();
}

PyObject* source(const std::optional<Source>& s) {
    if (!s) return none();
    Record r;
    if (!(r && r.set(kName, text(s->name)) && r.set(kUser, optional_text(s->user)) &&
          r.set(kHost, optional_text(s->host))))
        return nullptr;
    return r.release();
}

PyObject* irc_message(const IrcMessage& m) {
    Record r;
    if (!(r && r.set(kTags, list_of(m.tags, tag)) && r.set(kSource, source(m.source)) &&
          r.set(kCommand, text(m.command)) && r.set(kParams, text_list(m.params))))
        return nullptr;
    return r.release();
}

// The members after "type"; false with the exception set. Voice events carry a signal, whose
// host form has a writer of its own: they are read back from their JSON text instead.
struct EventObject {
    Record& r;
    bool operator()(const Event::CapabilitiesAcknowledged& e) const { return r.set(kNames, text_list(e.names)); }
    bool operator()(const Event::Registered& e) const { return r.set(kNick, text(e.nick)); }
    bool operator()(const Event::IsupportToken& e) const {
        return r.set(kToken, text(e.token)) && r.set(kValue, optional_text(e.value));
    }
    bool operator()(const Event::LoggedIn& e) const { return r.set(kAccount, text(e.account)); }
    bool operator()(const Event::SaslFailed& e) const { return r.set(kReason, text(sasl_failure_word(e.reason))); }
    bool operator()(const Event::NickInUse& e) const {
        return r.set(kRefused, text(e.refused)) && r.set(kTrying, text(e.trying));
    }
    bool operator()(const Event::ModelChanged& e) const { return r.set(kChange, change(e.change)); }
    bool operator()(const Event::LinkDead&) const { return true; }
    bool operator()(const Event::ReconnectAfter& e) const { return r.set(kAfterMs, number(e.after_ms)); }
    bool operator()(const Event::ReconnectAbandoned&) const { return true; }
    bool operator()(const Event::CommandTimedOut& e) const { return r.set(kCommand, text(e.command)); }
    bool operator()(const Event::AllowedCommandsChanged&) const { return true; }
    bool operator()(const Event::BotsChanged& e) const { return r.set(kNick, text(e.nick)); }
    bool operator()(const Event::AuthToken& e) const {
        return r.set(kService, text(e.service)) && r.set(kEndpoint, text(e.endpoint)) && r.set(kToken, text(e.token));
    }
    bool operator()(const Event::Voice&) const { return false; }  // not reached: see event()
    bool operator()(const Event::TypingChanged& e) const {
        return r.set(kTarget, text(e.target)) && r.set(kNick, text(e.nick)) && r.set(kActive, boolean(e.active));
    }
    bool operator()(const Event::PresenceChanged& e) const {
        return r.set(kNick, text(e.nick)) && r.set(kOnline, boolean(e.online));
    }
    bool operator()(const Event::ServerReply& e) const {
        return r.set(kSeverity, text(reply_severity_word(e.severity))) && r.set(kCommand, text(e.command)) &&
               r.set(kCode, text(e.code)) && r.set(kContext, text_list(e.context)) && r.set(kText, text(e.text));
    }
    bool operator()(const Event::RawLine& e) const { return r.set(kMessage, irc_message(e.message)); }
};

PyObject* event(const Event& e, PyObject* loads, std::string& scratch) {
    if (std::holds_alternative<Event::Voice>(e.value)) {
        scratch.clear();
        event_to_json(e, scratch);
        PyRef str(text(scratch));
        return str ? PyObject_CallFunctionObjArgs(loads, str.get(), nullptr) : nullptr;
    }
    Record r;
    if (!(r && r.set(kType, word(g_names.events[e.value.index()])) && std::visit(EventObject{r}, e.value)))
        return nullptr;
    return r.release();
}

// The cyclic collector stays off while a snapshot is built: its containers are new, hold no
// cycle, and would otherwise be traversed again and again as they pile up. No Python code runs
// meanwhile, so no other thread can see the collector off.
class CollectorPause {
public:
    CollectorPause() : was_enabled_(PyGC_Disable()) {}
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }

private:
    int was_enabled_;
};

}  // namespace

PyObject* model_object(const Model& model) {
    if (!names_ready()) return nullptr;
    CollectorPause paused;
    TextCache cache;
    Record r;
    if (!(r && r.set(kMe, own_user(model.me)) && r.set(kChannels, map_of(model.channels, [&](const Channel& c) { return channel(c, cache); })) &&
          r.set(kConversations, map_of(model.conversations, [&](const Conversation& c) { return conversation(c, cache); })) &&
          r.set(kPeople, map_of(model.people, person)) && r.set(kWhois, map_of(model.whois, whois)) &&
          r.set(kRetention, number(model.retention)) && r.set(kNextSeq, number(model.next_seq))))
        return nullptr;
    return r.release();
}

PyObject* events_object(std::span<const Event> events, PyObject* loads) {
    if (!names_ready()) return nullptr;
    // The collector is left alone here: a drained batch is small, and the json.loads of a voice
    // event runs Python code, during which another thread may use the collector.
    std::string scratch;
    return list_of(events, [&](const Event& e) { return event(e, loads, scratch); });
}

}  // namespace tessel::py
