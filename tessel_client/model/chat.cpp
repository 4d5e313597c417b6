#include "tessel_client/model/chat.hpp"

#include <array>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <tuple>
#include <type_traits>
#include <variant>

#include "tessel_client/protocol/byte_scan.hpp"
#include "tessel_client/protocol/ctcp.hpp"
#include "tessel_client/protocol/server_time.hpp"
#include "tessel_client/protocol/unicode_props.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {

namespace {

using Changes = std::vector<Change>;


// A name folded for a lookup (what irc_fold gives), kept on the stack for the usual length.
class FoldedKey {
public:
    FoldedKey(CaseMapping mapping, std::string_view name) {
        char* out = inline_;
        if (name.size() > sizeof inline_) {
            long_.resize(name.size());
            out = long_.data();
        }
        const FoldTable& fold = fold_table(mapping);
        for (std::size_t i = 0; i < name.size(); ++i) out[i] = static_cast<char>(fold[static_cast<unsigned char>(name[i])]);
        view_ = std::string_view(out, name.size());
    }
    FoldedKey(const FoldedKey&) = delete;
    FoldedKey& operator=(const FoldedKey&) = delete;
    std::string_view view() const { return view_; }

private:
    char inline_[64];
    std::string long_;
    std::string_view view_;
};

std::optional<std::string_view> reply_msgid(const std::vector<Tag>& tags) {
    if (auto v = find_tag(tags, "+reply")) return v;
    return find_tag(tags, "+draft/reply");
}

// Built in its place in `out`: every stored message reports one, and a change moved in would
// go through the variant's move twice (out of a temporary, then its destruction).
void added(Changes& out, std::string_view target, MessageKey key) {
    static_assert(std::is_same_v<std::variant_alternative_t<0, decltype(Change::value)>, Change::MessageAdded>,
                  "a new Change starts out as a MessageAdded");
    auto& change = std::get<Change::MessageAdded>(out.emplace_back().value);
    change.target.assign(target.data(), target.size());
    change.key = key;
}

void bump(std::uint32_t& counter) {
    if (counter != std::numeric_limits<std::uint32_t>::max()) ++counter;
}

// Code point that ends just before byte `end` of valid UTF-8.
std::optional<char32_t> char_before(std::string_view text, std::size_t end) {
    std::size_t start = end;
    do {
        --start;
    } while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80);
    std::size_t pos = start;
    auto c = utf8_next(text, pos);
    if (!c || pos != end) return std::nullopt;
    return c;
}

// Reaction step; nothing when it does not apply.
std::optional<Changes> apply_reaction(ReduceContext& ctx, const IrcMessage& m) {
    bool adding = true;
    auto emoji = find_tag(m.tags, "+draft/react");
    if (!emoji) {
        emoji = find_tag(m.tags, "+draft/unreact");
        adding = false;
    }
    if (!emoji) return std::nullopt;
    auto msgid = reply_msgid(m.tags);
    if (!msgid) return std::nullopt;
    const std::string_view sender = source_nick(m);
    std::string_view name;
    MessageLog* log = find_target_log(ctx.model, ctx.isupport, m.params[0], sender, name);
    if (log == nullptr) return std::nullopt;
    LogMessage* target = log->find(*msgid);
    if (target == nullptr) return std::nullopt;
    std::string nick = irc_fold(ctx.isupport.casemapping, sender);
    if (adding) {
        log->extras_for(*target).reactions[std::string(*emoji)].insert(std::move(nick));
    } else if (const MessageExtras* held = log->extras(*target)) {
        Reactions& reactions = log->extras_for(*target).reactions;
        if (auto it = reactions.find(*emoji); it != reactions.end()) {
            it->second.erase(nick);
            if (it->second.empty()) reactions.erase(it);
        }
        if (held->empty()) log->drop_extras_if_empty(*target);
    }
    Changes out;
    out.push_back(Change{Change::MessageReacted{std::string(name), std::string(*msgid)}});
    return out;
}

// Link-preview step; nothing when the TAGMSG carries no preview (it is then stored).
std::optional<Changes> apply_link_preview(ReduceContext& ctx, const IrcMessage& m) {
    auto found = LinkPreview::from_tags(m.tags);
    if (!found) return std::nullopt;
    Changes out;
    std::string_view name;
    MessageLog* log = find_target_log(ctx.model, ctx.isupport, m.params[0], source_nick(m), name);
    if (log == nullptr) return out;
    LogMessage* target = log->find(found->first);
    if (target == nullptr) return out;
    log->extras_for(*target).link_preview = std::move(found->second);
    out.push_back(Change{Change::MessageAdded{std::string(name), target->key}});
    return out;
}

// The tags a stored message reads, found in one pass from the end so that the last
// occurrence of a key decides, as find_tag has it.
struct ChatTags {
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t time = kNone, msgid = kNone, account = kNone, reply = kNone, draft_reply = kNone;

    explicit ChatTags(const std::vector<Tag>& tags) {
        // Keys told apart by length first, then compared in place (every stored message
        // passes here, with a few tags each).
        auto is = [](const std::string& key, std::string_view word) {
            return byte_scan::same_bytes(key.data(), word.data(), word.size());
        };
        auto first = [](std::size_t& slot, std::size_t i) {
            if (slot == kNone) slot = i;
        };
        for (std::size_t i = tags.size(); i-- > 0;) {
            const std::string& key = tags[i].key;
            switch (key.size()) {
                case 4: if (is(key, "time")) first(time, i); break;
                case 5: if (is(key, "msgid")) first(msgid, i); break;
                case 7: if (is(key, "account")) first(account, i); break;
                case 6: if (is(key, "+reply")) first(reply, i); break;
                case 12: if (is(key, "+draft/reply")) first(draft_reply, i); break;
                default: break;
            }
        }
    }
    // The value of the tag found at `at`; nothing when absent or without a value.
    static std::optional<std::string_view> value(const std::vector<Tag>& tags, std::size_t at) {
        if (at == kNone || !tags[at].value) return std::nullopt;
        return std::string_view(*tags[at].value);
    }
    std::optional<std::string_view> reply_msgid(const std::vector<Tag>& tags) const {
        if (auto v = value(tags, reply)) return v;
        return value(tags, draft_reply);
    }
};

// Bytes taken by the status-prefix character at `pos` of `target`; 0 when there is none.
std::size_t statusmsg_char_length(const Isupport& isupport, std::string_view target, std::size_t pos) {
    // An ASCII byte (the usual case) is its own character.
    const auto byte = static_cast<unsigned char>(target[pos]);
    if (byte < 0x80) return isupport.statusmsg.find(static_cast<char>(byte)) == std::string::npos ? 0 : 1;
    std::size_t end = pos;
    auto c = utf8_next(target, end);
    return c && isupport.is_statusmsg_char(*c) ? end - pos : 0;
}

bool names_channel(const Isupport& isupport, std::string_view name) {
    if (name.empty()) return false;
    if (static_cast<unsigned char>(name[0]) >= 0x80) return isupport.is_channel(name);
    const std::string_view types = isupport.chantypes.empty() ? std::string_view("#&") : isupport.chantypes;
    return types.find(name[0]) != std::string_view::npos;
}

struct ChatTarget {
    std::string_view name;  // the target with its status prefixes removed
    bool to_channel = false;
    NameMap<Channel>::iterator channel;  // the held channel, or the map's end
};

// A character may be both a channel type and a status prefix ("&"), so the target is first
// taken whole and then with one more leading status character removed at a time, and the
// first of these that names a held channel wins: "&ops" is the channel "&ops", "&&ops" is
// "&ops" addressed to its ops. When none is held, every status character is removed.
ChatTarget resolve_chat_target(Model& model, const Isupport& isupport, std::string_view target) {
    const CaseMapping cm = isupport.casemapping;
    std::size_t skip = 0;
    while (true) {
        const std::string_view rest = target.substr(skip);
        if (names_channel(isupport, rest)) {
            if (auto it = model.channels.find(FoldedKey(cm, rest).view()); it != model.channels.end()) {
                return ChatTarget{rest, true, it};
            }
        }
        if (skip == target.size()) break;
        const std::size_t length = statusmsg_char_length(isupport, target, skip);
        if (length == 0) break;
        skip += length;
    }
    const std::string_view rest = target.substr(skip);
    return ChatTarget{rest, names_channel(isupport, rest), model.channels.end()};
}

// Appends the MessageAdded change to `out` when the message is stored.
void store_message(ReduceContext& ctx, const IrcMessage& m, std::string_view command, Changes& out) {
    Model& model = ctx.model;
    const Isupport& isupport = ctx.isupport;
    const CaseMapping cm = isupport.casemapping;

    const std::string_view target = m.params[0];
    const ChatTarget resolved = resolve_chat_target(model, isupport, target);
    const bool to_channel = resolved.to_channel;
    const std::string_view stripped = resolved.name;
    const auto channel = resolved.channel;
    const ChatTags tags(m.tags);
    std::uint64_t msgid_hash = 0;  // hashed once: for the prefetch and then for the insert
    if (auto id = ChatTags::value(m.tags, tags.msgid)) {
        msgid_hash = channel != model.channels.end() ? channel->second.log.prefetch(*id) : MsgidIndex::hash(*id);
    }

    std::uint64_t time = ctx.unix_ms;
    if (auto stamp = ChatTags::value(m.tags, tags.time)) {
        if (auto parsed = parse_server_time(*stamp)) time = *parsed;
    }
    if (time > ctx.unix_ms) ctx.unix_ms = time;
    // Views of the line: the log copies the texts into its own arena.
    MessageView msg;
    msg.key = MessageKey{time, model.next_seq++};
    msg.sender = source_nick(m);

    std::string_view text;
    std::string upper;  // a CTCP command in upper case
    if (command == "TAGMSG") {
        msg.kind = message_kind_index<MessageKind::Tagmsg>;
    } else {
        text = m.params.size() > 1 ? std::string_view(m.params[1]) : std::string_view();
        std::optional<Ctcp> ctcp;
        if (command == "NOTICE") {
            msg.kind = message_kind_index<MessageKind::Notice>;
        } else if ((ctcp = parse_ctcp(text))) {
            upper = std::string(ctcp->command);
            for (char& c : upper)
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            msg.kind = message_kind_index<MessageKind::Ctcp>;
            msg.kind_text = upper;
            text = ctcp->args;
        } else {
            msg.kind = message_kind_index<MessageKind::Privmsg>;
        }
    }
    msg.text = text;
    msg.msgid = ChatTags::value(m.tags, tags.msgid);
    msg.account = ChatTags::value(m.tags, tags.account);
    msg.reply_to = tags.reply_msgid(m.tags);
    msg.own = irc_equal(cm, msg.sender, model.me.nick);
    msg.historical = ctx.historical;
    const bool counted = !msg.own && !msg.historical;

    if (to_channel) {
        if (channel == model.channels.end()) return;
        const bool mention = counted && mentions_nick(cm, model.me.nick, text);
        if (!channel->second.log.insert(msg, msgid_hash)) return;
        if (counted) {
            bump(channel->second.unread);
            if (mention) bump(channel->second.mentions);
        }
        added(out, stripped, msg.key);
        return;
    }

    const std::string name(msg.own ? target : msg.sender);
    Conversation& conv = model.conversation_entry(irc_fold(cm, name), name);
    if (!conv.log.insert(msg, msgid_hash)) return;
    if (counted) bump(conv.unread);
    added(out, name, msg.key);
}

}  // namespace

namespace {

constexpr auto kAsciiWordChars = [] {
    std::array<bool, 128> table{};
    for (int c = 0; c < 128; ++c)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   std::string_view("[]\\`_^{|}-").find(static_cast<char>(c)) != std::string_view::npos;
    return table;
}();

}  // namespace

bool is_word_char(char32_t c) {
    if (c < 0x80) return kAsciiWordChars[c];
    return is_alphabetic(c) || is_numeric(c);
}

namespace {

using ByteFold = FoldTable;

// For every folded byte, the other byte that folds to it (an upper-case letter, or "[" for
// "{" under rfc1459); the byte itself when there is none. No byte has two others.
constexpr ByteFold make_unfold(const ByteFold& fold) {
    ByteFold other{};
    for (int b = 0; b < 256; ++b) other[b] = static_cast<unsigned char>(b);
    for (int b = 0; b < 256; ++b)
        if (fold[b] != b) other[fold[b]] = static_cast<unsigned char>(b);
    return other;
}

constexpr std::array<ByteFold, 3> kUnfoldTables{make_unfold(kFoldTables[0]), make_unfold(kFoldTables[1]),
                                                make_unfold(kFoldTables[2])};

const ByteFold& byte_unfold(CaseMapping mapping) {
    const auto index = static_cast<std::size_t>(mapping);
    return kUnfoldTables[index < kUnfoldTables.size() ? index : static_cast<std::size_t>(CaseMapping::Rfc1459)];
}

bool is_word_boundary(const ByteFold& fold, std::optional<char32_t> c) {
    if (!c) return true;
    const char32_t folded = *c < 0x80 ? fold[*c] : *c;
    return !is_word_char(folded);
}

}  // namespace

bool mentions_nick(CaseMapping mapping, std::string_view own_nick, std::string_view text) {
    if (own_nick.empty() || text.empty()) return false;
    const ByteFold& fold = fold_table(mapping);
    const FoldedKey folded(mapping, own_nick);
    const std::string_view nick = folded.view();
    const std::size_t n = nick.size();
    const auto first = static_cast<unsigned char>(nick[0]);
    auto matches_at = [&](std::size_t at) {
        for (std::size_t j = 1; j < n; ++j)
            if (fold[static_cast<unsigned char>(text[at + j])] != static_cast<unsigned char>(nick[j])) return false;
        return true;
    };
    // Only the (at most two) bytes that fold to the nick's first byte can start it; the scan
    // looks for both at once, eight bytes a step.
    const char first_byte = static_cast<char>(first);
    const char second_byte = static_cast<char>(byte_unfold(mapping)[first]);
    std::size_t at = byte_scan::find_either(text, 0, first_byte, second_byte);
    while (at + n <= text.size()) {
        std::size_t resume = at + 1;
        if (matches_at(at)) {
            const std::size_t end = at + n;
            // An ASCII neighbour (the usual case) is judged by its byte alone.
            auto boundary_before = [&] {
                if (at == 0) return true;
                const auto b = static_cast<unsigned char>(text[at - 1]);
                return b < 0x80 ? !is_word_char(fold[b]) : is_word_boundary(fold, char_before(text, at));
            };
            auto boundary_after = [&] {
                if (end >= text.size()) return true;
                const auto b = static_cast<unsigned char>(text[end]);
                if (b < 0x80) return !is_word_char(fold[b]);
                std::size_t pos = end;
                return is_word_boundary(fold, utf8_next(text, pos));
            };
            if (boundary_before() && boundary_after()) return true;
            resume = end;  // the search resumes after a rejected occurrence
        }
        at = byte_scan::find_either(text, resume, first_byte, second_byte);
    }
    return false;
}

MessageLog* find_target_log(Model& model, const Isupport& isupport, std::string_view target,
                            std::string_view sender, std::string_view& name) {
    const CaseMapping cm = isupport.casemapping;
    const std::string key = irc_fold(cm, target);
    name = target;
    if (auto channel = model.channels.find(key); channel != model.channels.end()) return &channel->second.log;
    // Aimed at us in private: the conversation is keyed by the other party.
    if (!isupport.is_channel(target) && irc_equal(cm, target, model.me.nick)) {
        auto conv = model.conversations.find(irc_fold(cm, sender));
        if (conv == model.conversations.end()) return nullptr;
        name = sender;
        return &conv->second.log;
    }
    auto conv = model.conversations.find(key);
    return conv == model.conversations.end() ? nullptr : &conv->second.log;
}

void reduce_chat_message_into(ReduceContext& ctx, const IrcMessage& message, std::string_view command,
                              std::vector<Change>& out) {
    if (message.params.empty()) return;
    if (command == "TAGMSG") {
        if (!message.tags.empty()) {
            if (auto reacted = apply_reaction(ctx, message)) {
                out = std::move(*reacted);
                return;
            }
        }
        if (auto previewed = apply_link_preview(ctx, message)) {
            out = std::move(*previewed);
            return;
        }
    }
    store_message(ctx, message, command, out);
}

std::vector<Change> reduce_chat_message(ReduceContext& ctx, const IrcMessage& message, std::string_view command) {
    std::vector<Change> out;
    reduce_chat_message_into(ctx, message, command, out);
    return out;
}

}  // namespace tessel
