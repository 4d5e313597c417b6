#include "tessel_client/model/message_map.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace tessel {

static_assert(sizeof(LogMessage) <= 40, "a stored message is a small fixed record");
static_assert(std::is_trivially_destructible_v<LogMessage>);

namespace {

std::size_t length_size(std::size_t n) {
    std::size_t bytes = 1;
    for (; n >= 0x80; n >>= 7) ++bytes;
    return bytes;
}

char* write_length(char* out, std::size_t n) {
    for (; n >= 0x80; n >>= 7) *out++ = static_cast<char>((n & 0x7f) | 0x80);
    *out++ = static_cast<char>(n);
    return out;
}

}  // namespace

MessageMap::MessageMap(const MessageMap& other) {
    chunks_.reserve(other.chunks_.size());
    for (const LogMessage& message : other) {
        LogMessage& copy = *emplace(message.view(), message.id_hash_).first;
        if (const MessageExtras* extras = other.extras(message)) extras_for(copy) = *extras;
    }
}

MessageMap::MessageMap(MessageMap&& other) noexcept
    : chunks_(std::move(other.chunks_)), spare_slots_(std::move(other.spare_slots_)),
      size_(std::exchange(other.size_, 0)), records_(std::move(other.records_)), texts_(std::move(other.texts_)),
      extras_(std::move(other.extras_)) {
    other.chunks_.clear();
}

MessageMap& MessageMap::operator=(const MessageMap& other) {
    if (this != &other) {
        MessageMap copy(other);
        *this = std::move(copy);
    }
    return *this;
}

MessageMap& MessageMap::operator=(MessageMap&& other) noexcept {
    if (this != &other) {
        chunks_ = std::move(other.chunks_);
        spare_slots_ = std::move(other.spare_slots_);
        size_ = std::exchange(other.size_, 0);
        records_ = std::move(other.records_);
        texts_ = std::move(other.texts_);
        extras_ = std::move(other.extras_);
        other.chunks_.clear();
    }
    return *this;
}

void MessageMap::clear() {
    chunks_.clear();
    spare_slots_ = {};
    size_ = 0;
    extras_.reset();
    records_.clear();
    texts_.clear();
}

LogMessage* MessageMap::make_entry(const MessageView& m, std::uint64_t id_hash) {
    const std::string_view texts[LogMessage::kTexts] = {m.msgid.value_or(std::string_view()), m.sender, m.kind_text,
                                                       m.text, m.account.value_or(std::string_view()),
                                                       m.reply_to.value_or(std::string_view())};
    std::size_t total = 0;
    for (std::string_view text : texts) total += length_size(text.size()) + text.size();
    void* storage = records_.allocate();
    TextArena::Run run;
    try {
        run = texts_.allocate(total);
    } catch (...) {
        records_.deallocate(static_cast<LogMessage*>(storage));
        throw;
    }
    // The views may lie in this arena: a new run never moves an old one.
    char* out = run.data;
    for (std::string_view text : texts) out = write_length(out, text.size());
    for (std::string_view text : texts) {
        if (!text.empty()) std::memcpy(out, text.data(), text.size());
        out += text.size();
    }
    auto* entry = new (storage) LogMessage;
    entry->key = m.key;
    entry->texts_ = run.data;
    entry->block_ = run.block;
    entry->id_hash_ = static_cast<std::uint32_t>(id_hash);
    entry->historical = m.historical;
    entry->own = m.own;
    entry->redacted = m.redacted;
    entry->kind_ = m.kind;
    entry->texts_size_ = static_cast<std::uint16_t>(std::min<std::size_t>(total, LogMessage::kLongTexts));
    entry->present_ = static_cast<std::uint8_t>((m.msgid ? LogMessage::kMsgid : 0) | (m.account ? LogMessage::kAccount : 0) |
                                                (m.reply_to ? LogMessage::kReplyTo : 0));
    return entry;
}

void MessageMap::free_entry(LogMessage* entry) noexcept {
    if (entry->present_ & LogMessage::kHasExtras) extras_->erase(entry);
    texts_.release(entry->block_, entry->texts_size());
    records_.deallocate(entry);
}

std::pair<std::size_t, std::size_t> MessageMap::locate(const MessageKey& key) const {
    // The first run whose last key is not less than `key`, then the place inside it.
    auto chunk = std::partition_point(chunks_.begin(), chunks_.end(),
                                      [&](const Chunk& c) { return c.last_key() < key; });
    if (chunk == chunks_.end()) return {chunks_.size(), 0};
    auto first = chunk->slots.begin() + static_cast<std::ptrdiff_t>(chunk->head);
    auto slot = std::partition_point(first, chunk->slots.end(), [&](const Slot& s) { return s.key < key; });
    return {static_cast<std::size_t>(chunk - chunks_.begin()), static_cast<std::size_t>(slot - first)};
}

MessageMap::iterator MessageMap::lower_bound(const MessageKey& key) {
    const auto [chunk, slot] = locate(key);
    return iterator(this, chunk, slot);
}

MessageMap::const_iterator MessageMap::lower_bound(const MessageKey& key) const {
    const auto [chunk, slot] = locate(key);
    return const_iterator(this, chunk, slot);
}

MessageMap::iterator MessageMap::find(const MessageKey& key) {
    const auto [chunk, slot] = locate(key);
    if (chunk == chunks_.size() || !(chunks_[chunk].at(slot).key == key)) return end();
    return iterator(this, chunk, slot);
}

MessageMap::const_iterator MessageMap::find(const MessageKey& key) const {
    const auto [chunk, slot] = locate(key);
    if (chunk == chunks_.size() || !(chunks_[chunk].at(slot).key == key)) return end();
    return const_iterator(this, chunk, slot);
}

std::pair<MessageMap::iterator, bool> MessageMap::emplace(const MessageView& message, std::uint64_t id_hash) {
    const MessageKey& key = message.key;
    std::size_t chunk = chunks_.size();
    std::size_t slot = 0;
    // The usual case first: a key after every stored one goes to the end of the last run.
    if (!chunks_.empty() && !(chunks_.back().last_key() < key)) {
        std::tie(chunk, slot) = locate(key);
        if (chunks_[chunk].at(slot).key == key) return {iterator(this, chunk, slot), false};
    }
    LogMessage* entry = make_entry(message, id_hash);
    std::pair<iterator, bool> stored;
    try {
        stored = insert_new(chunk, slot, entry);
    } catch (...) {
        free_entry(entry);
        throw;
    }
    if (texts_.sparse()) compact_texts();
    return stored;
}

std::pair<MessageMap::iterator, bool> MessageMap::emplace(const MessageDraft& message) {
    auto stored = emplace(message.view());
    if (stored.second && (!message.reactions.empty() || message.link_preview)) {
        MessageExtras& extras = extras_for(*stored.first);
        extras.reactions = message.reactions;
        extras.link_preview = message.link_preview;
    }
    return stored;
}

std::pair<MessageMap::iterator, bool> MessageMap::insert_new(std::size_t chunk, std::size_t slot, LogMessage* entry) {
    const MessageKey key = entry->key;
    if (chunk == chunks_.size()) {  // after everything: the end of the last run, or a new run
        if (chunks_.empty() || chunks_.back().size() == kChunk) {
            Chunk fresh;
            if (!chunks_.empty()) {  // a log past one run grows to many: full runs from the start
                fresh.slots = std::move(spare_slots_);
                spare_slots_ = {};
                fresh.slots.clear();
                fresh.slots.reserve(kChunk);
            }
            chunks_.push_back(std::move(fresh));
            slot = 0;
        } else {
            slot = chunks_.back().size();
        }
        chunk = chunks_.size() - 1;
    }
    Chunk* target = &chunks_[chunk];
    if (target->slots.size() == kChunk && target->head > 0) {  // room only at the front: close the gap
        target->slots.erase(target->slots.begin(), target->slots.begin() + static_cast<std::ptrdiff_t>(target->head));
        target->head = 0;
    }
    if (target->slots.size() == kChunk) {
        // A full run splits in two halves; the new key goes to the half it belongs in.
        Chunk upper;
        upper.slots.reserve(kChunk);
        upper.slots.assign(target->slots.begin() + kChunk / 2, target->slots.end());
        chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(chunk) + 1, std::move(upper));
        target = &chunks_[chunk];
        target->slots.resize(kChunk / 2);
        if (slot > kChunk / 2) {
            ++chunk;
            slot -= kChunk / 2;
            target = &chunks_[chunk];
        }
    }
    target->slots.insert(target->slots.begin() + static_cast<std::ptrdiff_t>(target->head + slot), Slot{key, entry});
    ++size_;
    return {iterator(this, chunk, slot), true};
}

MessageMap::iterator MessageMap::erase(iterator pos) {
    const std::size_t chunk = pos.chunk_;
    const std::size_t slot = pos.slot_;
    Chunk& c = chunks_[chunk];
    free_entry(c.at(slot).entry);
    --size_;
    if (slot == 0) {
        ++c.head;  // the usual removal, the oldest message: advance the front
    } else {
        c.slots.erase(c.slots.begin() + static_cast<std::ptrdiff_t>(c.head + slot));
    }
    if (c.size() == 0) {
        if (c.slots.capacity() > spare_slots_.capacity()) spare_slots_ = std::move(c.slots);
        chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(chunk));
        return iterator(this, chunk, 0);
    }
    if (slot == c.size()) return iterator(this, chunk + 1, 0);
    return iterator(this, chunk, slot);
}

// Copies the live texts into a fresh arena in key order, which is also the order they will
// leave in. Both passes run before anything is changed, so a failed allocation leaves the
// map as it was.
void MessageMap::compact_texts() {
    TextArena fresh;
    std::vector<TextArena::Run> runs;
    runs.reserve(size_);
    for (const LogMessage& message : *this) {
        const std::size_t bytes = message.texts_size();
        runs.push_back(fresh.allocate(bytes));
        std::memcpy(runs.back().data, message.texts_, bytes);
    }
    std::size_t i = 0;
    for (LogMessage& message : *this) {
        message.texts_ = runs[i].data;
        message.block_ = runs[i].block;
        ++i;
    }
    texts_ = std::move(fresh);
}

const MessageExtras* MessageMap::extras(const LogMessage& message) const {
    if ((message.present_ & LogMessage::kHasExtras) == 0) return nullptr;
    auto it = extras_->find(&message);
    return it == extras_->end() ? nullptr : &it->second;
}

MessageExtras& MessageMap::extras_for(LogMessage& message) {
    if (!extras_) extras_ = std::make_unique<ExtrasMap>();
    MessageExtras& extras = (*extras_)[&message];
    message.present_ |= LogMessage::kHasExtras;
    return extras;
}

void MessageMap::drop_extras_if_empty(LogMessage& message) {
    if ((message.present_ & LogMessage::kHasExtras) == 0) return;
    auto it = extras_->find(&message);
    if (it != extras_->end() && !it->second.empty()) return;
    if (it != extras_->end()) extras_->erase(it);
    message.present_ &= static_cast<std::uint8_t>(~LogMessage::kHasExtras);
}

std::size_t MessageMap::held_bytes() const {
    std::size_t slots = spare_slots_.capacity();
    for (const Chunk& chunk : chunks_) slots += chunk.slots.capacity();
    return records_.held_bytes() + texts_.held_bytes() + slots * sizeof(Slot) + chunks_.capacity() * sizeof(Chunk);
}

bool operator==(const MessageMap& a, const MessageMap& b) {
    if (a.size() != b.size()) return false;
    return std::equal(a.begin(), a.end(), b.begin(), [&](const LogMessage& x, const LogMessage& y) {
        if (!(x == y)) return false;
        const MessageExtras* ex = a.extras(x);
        const MessageExtras* ey = b.extras(y);
        const MessageExtras none;
        return (ex ? *ex : none) == (ey ? *ey : none);
    });
}

}  // namespace tessel
