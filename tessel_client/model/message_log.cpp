#include "tessel_client/model/message_log.hpp"

#include <functional>
#include <iterator>

namespace tessel {

namespace {

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    // splitmix64 finaliser over the running value
    v += 0x9e3779b97f4a7c15ULL + h;
    v = (v ^ (v >> 30)) * 0xbf58476d1ce4e5b9ULL;
    v = (v ^ (v >> 27)) * 0x94d049bb133111ebULL;
    return v ^ (v >> 31);
}

std::uint64_t content_fingerprint(const LogMessage& m) {
    std::hash<std::string_view> hs;
    std::uint64_t h = mix(0, m.key.time_ms);
    h = mix(h, hs(m.sender));
    h = mix(h, hs(m.text));
    h = mix(h, m.kind.value.index());
    if (const auto* c = std::get_if<MessageKind::Ctcp>(&m.kind.value)) h = mix(h, hs(c->command));
    if (const auto* k = std::get_if<MessageKind::Kick>(&m.kind.value)) h = mix(h, hs(k->target));
    if (const auto* n = std::get_if<MessageKind::Nick>(&m.kind.value)) h = mix(h, hs(n->new_nick));
    return h;
}

}  // namespace

bool same_content(const LogMessage& a, const LogMessage& b) {
    return a.sender == b.sender && a.text == b.text && a.kind == b.kind;
}

void MessageLog::index_crowded(const LogMessage& message) {
    crowded_.emplace(content_fingerprint(message), message.key);
    ++crowded_times_[message.key.time_ms];
}

bool MessageLog::is_duplicate(const LogMessage& message) {
    const std::uint64_t time = message.key.time_ms;
    auto crowded = crowded_times_.find(time);
    if (crowded == crowded_times_.end()) {
        // No key range [(t, 0), (t + 1, 0)): that bound overflows at the largest time.
        std::size_t walked = 0;
        auto it = messages.lower_bound(MessageKey{time, 0});
        for (; it != messages.end() && it->first.time_ms == time; ++it, ++walked) {
            if (walked == kScanLimit) break;
            if (same_content(it->second, message)) return true;
        }
        if (it == messages.end() || it->first.time_ms != time) return false;
        // Crowded: index the whole millisecond once, then answer from the index.
        for (it = messages.lower_bound(MessageKey{time, 0}); it != messages.end() && it->first.time_ms == time; ++it)
            index_crowded(it->second);
    }
    auto [it, end] = crowded_.equal_range(content_fingerprint(message));
    for (; it != end; ++it) {
        auto stored = messages.find(it->second);
        if (stored != messages.end() && stored->first.time_ms == time && same_content(stored->second, message))
            return true;
    }
    return false;
}

// A copy must not share the msgid positions of the original; they are rebuilt on demand.
MessageLog::MessageLog(const MessageLog& other)
    : messages(other.messages),
      by_msgid(other.by_msgid),
      retention(other.retention),
      crowded_(other.crowded_),
      crowded_times_(other.crowded_times_) {}

MessageLog& MessageLog::operator=(const MessageLog& other) {
    if (this != &other) {
        messages = other.messages;
        by_msgid = other.by_msgid;
        retention = other.retention;
        crowded_ = other.crowded_;
        crowded_times_ = other.crowded_times_;
        id_slots_.clear();
    }
    return *this;
}

bool MessageLog::insert(LogMessage message) {
    if (id_slots_.size() != by_msgid.size()) {
        id_slots_.clear();
        for (auto it = by_msgid.begin(); it != by_msgid.end(); ++it) id_slots_.emplace(it->second, it);
    }
    auto id_slot = by_msgid.end();
    if (message.msgid) {
        id_slot = by_msgid.lower_bound(*message.msgid);
        if (id_slot != by_msgid.end() && id_slot->first == *message.msgid) return false;
    } else if (is_duplicate(message)) {
        return false;
    }
    const MessageKey key = message.key;
    // Messages mostly arrive in key order, so the end is the usual place.
    const bool appending = messages.empty() || messages.rbegin()->first < key;
    if (!appending && messages.contains(key)) return false;  // keys are unique by seq; keep the stored one

    // A full log gives up its oldest message for the new one. Its nodes are reused, which
    // spares an allocation and a release per message once the log is full. A message older
    // than everything would be stored and trimmed again at once: the log stays as it is.
    std::map<MessageKey, LogMessage>::node_type node;
    decltype(by_msgid)::node_type id_node;
    decltype(id_slots_)::node_type slot_node;
    if (messages.size() == retention) {
        if (key < messages.begin()->first) return true;
        if (!id_slots_.empty() && id_slots_.begin()->first == messages.begin()->first) {
            slot_node = id_slots_.extract(id_slots_.begin());
            auto old = slot_node.mapped();
            if (old == id_slot) ++id_slot;
            id_node = by_msgid.extract(old);
        }
        forget_crowded(messages.begin()->second);
        node = messages.extract(messages.begin());
    }

    const auto hint = appending ? messages.end() : messages.lower_bound(key);
    std::map<MessageKey, LogMessage>::iterator pos;
    if (node) {
        node.key() = key;
        node.mapped() = std::move(message);
        pos = messages.insert(hint, std::move(node));
    } else {
        pos = messages.emplace_hint(hint, key, std::move(message));
    }
    if (const auto& msgid = pos->second.msgid) {
        decltype(by_msgid)::iterator placed;
        if (id_node) {
            id_node.key() = *msgid;
            id_node.mapped() = key;
            placed = by_msgid.insert(id_slot, std::move(id_node));
        } else {
            placed = by_msgid.emplace_hint(id_slot, *msgid, key);
        }
        const auto slot_hint = appending ? id_slots_.end() : id_slots_.lower_bound(key);
        if (slot_node) {
            slot_node.key() = key;
            slot_node.mapped() = placed;
            id_slots_.insert(slot_hint, std::move(slot_node));
        } else {
            id_slots_.emplace_hint(slot_hint, key, placed);
        }
    }
    if (!crowded_times_.empty() && crowded_times_.contains(key.time_ms)) index_crowded(pos->second);
    while (messages.size() > retention) erase_oldest();
    return true;
}

void MessageLog::forget_crowded(const LogMessage& m) {
    if (crowded_times_.empty()) return;
    auto crowded = crowded_times_.find(m.key.time_ms);
    if (crowded == crowded_times_.end()) return;
    auto [it, end] = crowded_.equal_range(content_fingerprint(m));
    for (; it != end; ++it) {
        if (it->second == m.key) {
            crowded_.erase(it);
            break;
        }
    }
    if (--crowded->second == 0) crowded_times_.erase(crowded);
}

void MessageLog::erase_oldest() {
    auto first = messages.begin();
    if (!id_slots_.empty() && id_slots_.begin()->first == first->first) {
        by_msgid.erase(id_slots_.begin()->second);
        id_slots_.erase(id_slots_.begin());
    }
    forget_crowded(first->second);
    messages.erase(first);
}

LogMessage* MessageLog::find(std::string_view msgid) {
    auto idx = by_msgid.find(msgid);
    if (idx == by_msgid.end()) return nullptr;
    auto it = messages.find(idx->second);
    return it == messages.end() ? nullptr : &it->second;
}

const LogMessage* MessageLog::find(std::string_view msgid) const {
    auto idx = by_msgid.find(msgid);
    if (idx == by_msgid.end()) return nullptr;
    auto it = messages.find(idx->second);
    return it == messages.end() ? nullptr : &it->second;
}

const LogMessage* MessageLog::newest() const {
    return messages.empty() ? nullptr : &messages.rbegin()->second;
}

bool MessageLog::operator==(const MessageLog& other) const {
    return messages == other.messages && by_msgid == other.by_msgid && retention == other.retention;
}

}  // namespace tessel
