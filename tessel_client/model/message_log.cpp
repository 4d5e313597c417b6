#include "tessel_client/model/message_log.hpp"

#include <cstring>
#include <random>

namespace tessel {

namespace {

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    // splitmix64 finaliser over the running value
    v += 0x9e3779b97f4a7c15ULL + h;
    v = (v ^ (v >> 30)) * 0xbf58476d1ce4e5b9ULL;
    v = (v ^ (v >> 27)) * 0x94d049bb133111ebULL;
    return v ^ (v >> 31);
}

// SipHash-1-3 under a key drawn once per process. Msgids come from the server and texts from
// any user; with an unkeyed hash, crafted strings that all hash alike would pile into one run
// of the msgid index (or one fingerprint of a crowded millisecond) and make every insert walk
// the whole log.
struct SipKey {
    std::uint64_t k0, k1;
};

const SipKey& sip_key() {
    static const SipKey key = [] {
        std::uint64_t words[2];
        try {
            std::random_device device;
            for (auto& w : words) w = (std::uint64_t{device()} << 32) ^ device();
        } catch (...) {
            // No entropy source: fall back on where the loader put us (the engine reads no clock).
            const auto here = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&words));
            const auto code = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&mix));
            words[0] = mix(here, code);
            words[1] = mix(words[0], here);
        }
        return SipKey{words[0], words[1]};
    }();
    return key;
}

inline std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
    std::uint64_t v0, v1, v2, v3;
    void round() {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    void absorb(std::uint64_t m) {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

std::uint64_t keyed_hash(std::string_view text) {
    const SipKey& key = sip_key();
    SipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL, key.k0 ^ 0x6c7967656e657261ULL,
               key.k1 ^ 0x7465646279746573ULL};
    const char* p = text.data();
    std::size_t left = text.size();
    for (; left >= 8; p += 8, left -= 8) {
        std::uint64_t m;
        std::memcpy(&m, p, 8);
        s.absorb(m);
    }
    std::uint64_t last = static_cast<std::uint64_t>(text.size()) << 56;
    for (std::size_t i = 0; i < left; ++i) last |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    s.absorb(last);
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::uint64_t content_fingerprint(const MessageView& m) {
    std::uint64_t h = mix(0, m.key.time_ms);
    h = mix(h, keyed_hash(m.sender));
    h = mix(h, keyed_hash(m.text));
    h = mix(h, m.kind);
    if (!m.kind_text.empty()) h = mix(h, keyed_hash(m.kind_text));
    return h;
}

}  // namespace

std::uint64_t MsgidIndex::hash(std::string_view msgid) {
    const std::uint64_t h = keyed_hash(msgid);
    return h == 0 ? 1 : h;
}

void MsgidIndex::insert(std::uint64_t hash, Entry* entry) {
    if ((size_ + 1) * 4 > slots_.size() * 3) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 2 : old.size() * 2, Slot{});
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.hash == 0) continue;
            std::size_t i = slot.hash & mask;
            while (slots_[i].hash != 0) i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    while (slots_[i].hash != 0) i = (i + 1) & mask;
    slots_[i] = Slot{hash, entry};
    ++size_;
}

void MsgidIndex::erase(std::uint32_t hash_low, const Entry* entry) {
    if (size_ == 0) return;
    const std::size_t mask = slots_.size() - 1;  // below 2^32 slots, so the low half finds the home
    std::size_t i = hash_low & mask;
    for (; slots_[i].hash != 0; i = (i + 1) & mask)
        if (slots_[i].entry == entry) break;
    if (slots_[i].hash == 0) return;
    // Linear probing without tombstones: pull later entries of the run back over the hole
    // when their home slot does not lie between the hole and them.
    std::size_t hole = i;
    for (std::size_t j = (hole + 1) & mask; slots_[j].hash != 0; j = (j + 1) & mask) {
        const std::size_t home = slots_[j].hash & mask;
        const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (stays) continue;
        slots_[hole] = slots_[j];
        hole = j;
    }
    slots_[hole] = Slot{};
    --size_;
}

void MsgidIndex::clear() {
    slots_.clear();
    size_ = 0;
}

MessageLog::MessageLog(const MessageLog& other)
    : messages(other.messages), retention(other.retention),
      crowded_(other.crowded_ ? std::make_unique<Crowded>(*other.crowded_) : nullptr) {
    for (LogMessage& entry : messages)
        if (auto id = entry.msgid()) by_msgid.insert(MsgidIndex::hash(*id), &entry);
}

MessageLog& MessageLog::operator=(const MessageLog& other) {
    if (this != &other) *this = MessageLog(other);
    return *this;
}

void MessageLog::index_crowded(const MessageView& message) {
    if (!crowded_) crowded_ = std::make_unique<Crowded>();
    crowded_->keys.emplace(content_fingerprint(message), message.key);
    ++crowded_->times[message.key.time_ms];
}

bool MessageLog::is_duplicate(const MessageView& message) {
    const std::uint64_t time = message.key.time_ms;
    if (!crowded_ || !crowded_->times.contains(time)) {
        // No key range [(t, 0), (t + 1, 0)): that bound overflows at the largest time.
        std::size_t walked = 0;
        auto it = messages.lower_bound(MessageKey{time, 0});
        for (; it != messages.end() && it->key.time_ms == time; ++it, ++walked) {
            if (walked == kScanLimit) break;
            if (same_content(it->view(), message)) return true;
        }
        if (it == messages.end() || it->key.time_ms != time) return false;
        // Crowded: index the whole millisecond once, then answer from the index.
        for (it = messages.lower_bound(MessageKey{time, 0}); it != messages.end() && it->key.time_ms == time; ++it)
            index_crowded(it->view());
    }
    auto [it, end] = crowded_->keys.equal_range(content_fingerprint(message));
    for (; it != end; ++it) {
        auto stored = messages.find(it->second);
        if (stored != messages.end() && stored->key.time_ms == time && same_content(stored->view(), message))
            return true;
    }
    return false;
}

MsgidIndex::Entry* MessageLog::find_entry(std::string_view msgid, std::uint64_t hash) const {
    return by_msgid.find(hash, [&](const LogMessage& entry) { return entry.msgid() == msgid; });
}

bool MessageLog::insert(const MessageDraft& message) {
    const MessageView view = message.view();
    if (!insert(view, message.msgid ? MsgidIndex::hash(*message.msgid) : 0)) return false;
    if (message.reactions.empty() && !message.link_preview) return true;
    auto stored = messages.find(message.key);
    if (stored == messages.end()) return true;  // trimmed again at once
    MessageExtras& extras = extras_for(*stored);
    extras.reactions = message.reactions;
    extras.link_preview = message.link_preview;
    return true;
}

bool MessageLog::insert(const MessageView& message, std::uint64_t id_hash) {
    if (message.msgid) {
        if (find_entry(*message.msgid, id_hash) != nullptr) return false;
    } else if (is_duplicate(message)) {
        return false;
    }
    const MessageKey key = message.key;
    // Messages mostly arrive in key order, so the end is the usual place.
    const MessageKey* last = messages.last_key();
    const bool appending = last == nullptr || *last < key;
    if (!appending && messages.contains(key)) return false;  // keys are unique by seq; keep the stored one

    // A full log gives up its oldest message for the new one. A message older than everything
    // would be stored and trimmed again at once: the log stays as it is. The new one goes in
    // first, as its texts may be views of the one that leaves.
    if (messages.size() >= retention && key < messages.begin()->key) return true;
    LogMessage& stored = *messages.emplace(message, id_hash).first;
    if (message.msgid) by_msgid.insert(id_hash, &stored);
    if (crowded_ && crowded_->times.contains(key.time_ms)) index_crowded(message);
    while (messages.size() > retention) erase_oldest();
    return true;
}

void MessageLog::forget_crowded(const MessageView& m) {
    if (!crowded_) return;
    auto crowded = crowded_->times.find(m.key.time_ms);
    if (crowded == crowded_->times.end()) return;
    auto [it, end] = crowded_->keys.equal_range(content_fingerprint(m));
    for (; it != end; ++it) {
        if (it->second == m.key) {
            crowded_->keys.erase(it);
            break;
        }
    }
    if (--crowded->second == 0) crowded_->times.erase(crowded);
    if (crowded_->times.empty()) crowded_.reset();
}

void MessageLog::erase_oldest() {
    auto first = messages.begin();
    if (first->has_msgid()) by_msgid.erase(MessageMap::id_hash(*first), &*first);
    if (crowded_) forget_crowded(first->view());
    // The next to leave is read at the next insert: loaded meanwhile, as it has gone cold.
    if (auto next = messages.erase(first); next != messages.end()) MsgidIndex::prefetch_line(&*next);
}

LogMessage* MessageLog::find(std::string_view msgid) {
    return find_entry(msgid, MsgidIndex::hash(msgid));
}

const LogMessage* MessageLog::find(std::string_view msgid) const {
    return find_entry(msgid, MsgidIndex::hash(msgid));
}

const LogMessage* MessageLog::newest() const {
    return messages.empty() ? nullptr : &*messages.rbegin();
}

std::size_t MessageLog::held_bytes() const {
    return messages.held_bytes() + by_msgid.held_bytes() + (crowded_ ? sizeof(Crowded) : 0);
}

bool MessageLog::operator==(const MessageLog& other) const {
    return messages == other.messages && retention == other.retention;
}

}  // namespace tessel
