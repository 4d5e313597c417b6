// The message log of a channel or conversation: messages ordered by (time, sequence number),
// an index by msgid, de-duplication and a retention limit.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tessel_client/model/log_message.hpp"
#include "tessel_client/model/message_map.hpp"

namespace tessel {

// The msgid index: msgid -> stored message, as an open-addressing hash table of (hash, entry)
// slots. It holds no strings: the msgid of a stored message is in the message, and a lookup
// checks a hash match against it. One lookup touches a slot or two in one array instead of
// walking string compares through a tree (or chasing list nodes), which matters once the logs
// of all channels no longer fit the caches; sixteen-byte slots keep that array small. Messages
// of a MessageMap stay where they are while stored, so the index can point at them, and each
// keeps the low half of its hash, so that removing it needs no hashing. The snapshot lists the
// msgids sorted when it writes them.
class MsgidIndex {
public:
    using Entry = LogMessage;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    static std::uint64_t hash(std::string_view msgid);
    // The first stored entry under `hash` that `matches` accepts, if any.
    template <class Matches>
    Entry* find(std::uint64_t hash, Matches&& matches) const {
        if (size_ == 0) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask; slots_[i].hash != 0; i = (i + 1) & mask)
            if (slots_[i].hash == hash && matches(*slots_[i].entry)) return slots_[i].entry;
        return nullptr;
    }
    void insert(std::uint64_t hash, Entry* entry);
    // Removes the entry stored under a hash whose low half is `hash_low`; nothing if absent.
    void erase(std::uint32_t hash_low, const Entry* entry);
    void clear();
    // Starts loading the slot a lookup under `hash` reads first.
    void prefetch(std::uint64_t hash) const {
        if (!slots_.empty()) prefetch_line(&slots_[hash & (slots_.size() - 1)]);
    }
    static void prefetch_line(const void* at) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        // GCC 12 drops __builtin_prefetch (and _mm_prefetch) of such addresses; the instruction
        // written out stays.
        asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(at)));
#else
        __builtin_prefetch(at);
#endif
    }
    std::size_t held_bytes() const { return slots_.capacity() * sizeof(Slot); }

private:
    struct Slot {
        std::uint64_t hash = 0;  // 0: empty (hash() never returns 0)
        Entry* entry = nullptr;
    };
    std::vector<Slot> slots_;  // a power of two in size, at most three quarters full
    std::size_t size_ = 0;
};

class MessageLog {
public:
    MessageMap messages;  // oldest first
    MsgidIndex by_msgid;  // msgid -> every stored message with a msgid
    std::uint64_t retention = 1;  // at least 1

    explicit MessageLog(std::uint64_t retention = 1) : retention(retention < 1 ? 1 : retention) {}
    // A copy indexes its own messages.
    MessageLog(const MessageLog& other);
    MessageLog& operator=(const MessageLog& other);
    MessageLog(MessageLog&&) noexcept = default;
    MessageLog& operator=(MessageLog&&) noexcept = default;

    // Stores the message and trims to `retention`; false (log unchanged) for a duplicate.
    // True also when the trimming removed the new message again at once.
    // Add messages only through insert: it keeps the indexes right.
    bool insert(const MessageDraft& message);
    // The same for a message given as views, with the msgid's hash already known (as prefetch
    // returned it; 0 without msgid), so that it is hashed once. The texts are copied in.
    bool insert(const MessageView& message, std::uint64_t msgid_hash);
    LogMessage* find(std::string_view msgid);
    const LogMessage* find(std::string_view msgid) const;

    // A hint that a message with this msgid comes next: its index slot is loaded meanwhile,
    // and in a full log the slot of the message it will push out. The slots are rarely in
    // cache once the logs grow, and the work before the insert can hide the wait. Returns the
    // msgid's hash for insert.
    std::uint64_t prefetch(std::string_view msgid) const {
        const std::uint64_t hash = MsgidIndex::hash(msgid);
        by_msgid.prefetch(hash);
        if (messages.size() >= retention && messages.begin()->has_msgid())
            by_msgid.prefetch(MessageMap::id_hash(*messages.begin()));
        return hash;
    }

    // The newest stored message, if any.
    const LogMessage* newest() const;

    // Reactions and link preview of a stored message (see MessageMap).
    const MessageExtras* extras(const LogMessage& message) const { return messages.extras(message); }
    MessageExtras& extras_for(LogMessage& message) { return messages.extras_for(message); }
    void drop_extras_if_empty(LogMessage& message) { messages.drop_extras_if_empty(message); }

    // Heap bytes held for the stored messages and their indexes.
    std::size_t held_bytes() const;

    // Compares the log's contents (messages and retention; the msgid index follows the messages).
    bool operator==(const MessageLog& other) const;

private:
    // The duplicate test for a message without msgid walks the messages of its millisecond.
    // A millisecond holding more than kScanLimit messages is "crowded": its messages are
    // then also indexed by a fingerprint of their content, so a burst of same-time messages
    // costs a lookup each instead of a walk over all of them. Rare, so kept out of line.
    static constexpr std::size_t kScanLimit = 16;
    struct Crowded {
        std::unordered_multimap<std::uint64_t, MessageKey> keys;  // fingerprint -> key
        std::unordered_map<std::uint64_t, std::size_t> times;    // time_ms -> messages indexed
    };
    std::unique_ptr<Crowded> crowded_;

    MsgidIndex::Entry* find_entry(std::string_view msgid, std::uint64_t hash) const;
    bool is_duplicate(const MessageView& message);
    void index_crowded(const MessageView& message);
    void forget_crowded(const MessageView& message);
    void erase_oldest();
};

}  // namespace tessel
