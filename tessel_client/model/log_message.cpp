#include "tessel_client/model/log_message.hpp"

namespace tessel {

namespace {

std::size_t read_length(const unsigned char*& at) {
    std::size_t value = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char byte = *at++;
        value |= static_cast<std::size_t>(byte & 0x7f) << shift;
        if (byte < 0x80) return value;
    }
}



}  // namespace

std::string_view MessageKind::text() const {
    if (const auto* c = std::get_if<Ctcp>(&value)) return c->command;
    if (const auto* k = std::get_if<Kick>(&value)) return k->target;
    if (const auto* n = std::get_if<Nick>(&value)) return n->new_nick;
    return {};
}

MessageKind MessageKind::make(std::size_t index, std::string_view text) {
    switch (index) {
        case message_kind_index<Privmsg>: return {Privmsg{}};
        case message_kind_index<Notice>: return {Notice{}};
        case message_kind_index<Ctcp>: return {Ctcp{std::string(text)}};
        case message_kind_index<Tagmsg>: return {Tagmsg{}};
        case message_kind_index<Join>: return {Join{}};
        case message_kind_index<Part>: return {Part{}};
        case message_kind_index<Quit>: return {Quit{}};
        case message_kind_index<Kick>: return {Kick{std::string(text)}};
        case message_kind_index<Nick>: return {Nick{std::string(text)}};
        case message_kind_index<Topic>: return {Topic{}};
        case message_kind_index<Mode>: return {Mode{}};
        default: return {};
    }
}

std::optional<std::pair<std::string, LinkPreview>> LinkPreview::from_tags(const std::vector<Tag>& tags) {
    auto title = find_tag(tags, "vantaweb/link-preview-title");
    if (!title) return std::nullopt;
    auto reply = find_tag(tags, "+reply");
    if (!reply) reply = find_tag(tags, "+draft/reply");
    if (!reply) return std::nullopt;
    LinkPreview preview;
    preview.title = std::string(*title);
    if (auto snippet = find_tag(tags, "vantaweb/link-preview-snippet")) preview.snippet = std::string(*snippet);
    if (auto image = find_tag(tags, "vantaweb/link-preview-meta")) preview.image = std::string(*image);
    return std::pair{std::string(*reply), std::move(preview)};
}

MessageView MessageDraft::view() const {
    MessageView v;
    v.key = key;
    v.msgid = msgid;
    v.sender = sender;
    v.kind = static_cast<std::uint8_t>(kind.value.index());
    v.kind_text = kind.text();
    v.text = text;
    v.account = account;
    v.reply_to = reply_to;
    v.historical = historical;
    v.own = own;
    v.redacted = redacted;
    return v;
}

std::optional<std::string_view> LogMessage::msgid() const {
    if ((present_ & kMsgid) == 0) return std::nullopt;
    // The msgid is the first text: one length to read, however many follow.
    const auto* at = reinterpret_cast<const unsigned char*>(texts_);
    const std::size_t size = read_length(at);
    for (std::size_t i = 1; i < kTexts; ++i) read_length(at);
    return std::string_view(reinterpret_cast<const char*>(at), size);
}

MessageView LogMessage::view() const {
    MessageView v;
    v.key = key;
    v.kind = kind_;
    v.historical = historical;
    v.own = own;
    v.redacted = redacted;
    if (texts_ == nullptr) return v;  // not stored: no texts
    const auto* at = reinterpret_cast<const unsigned char*>(texts_);
    std::size_t sizes[kTexts];
    for (std::size_t& size : sizes) size = read_length(at);
    const char* text = reinterpret_cast<const char*>(at);
    std::string_view texts[kTexts];
    for (std::size_t i = 0; i < kTexts; ++i) {
        texts[i] = std::string_view(text, sizes[i]);
        text += sizes[i];
    }
    if (present_ & kMsgid) v.msgid = texts[0];
    v.sender = texts[1];
    v.kind_text = texts[2];
    v.text = texts[3];
    if (present_ & kAccount) v.account = texts[4];
    if (present_ & kReplyTo) v.reply_to = texts[5];
    return v;
}

std::size_t LogMessage::texts_size() const {
    if (texts_size_ != kLongTexts) return texts_size_;
    const auto* at = reinterpret_cast<const unsigned char*>(texts_);
    std::size_t total = 0;
    for (std::size_t i = 0; i < kTexts; ++i) total += read_length(at);
    return total + static_cast<std::size_t>(at - reinterpret_cast<const unsigned char*>(texts_));
}

MessageDraft LogMessage::draft() const {
    const MessageView v = view();
    MessageDraft d;
    d.key = v.key;
    if (v.msgid) d.msgid = std::string(*v.msgid);
    d.sender = std::string(v.sender);
    d.kind = MessageKind::make(v.kind, v.kind_text);
    d.text = std::string(v.text);
    if (v.account) d.account = std::string(*v.account);
    d.historical = v.historical;
    d.own = v.own;
    if (v.reply_to) d.reply_to = std::string(*v.reply_to);
    d.redacted = v.redacted;
    return d;
}

bool same_content(const MessageView& a, const MessageView& b) {
    return a.sender == b.sender && a.text == b.text && a.kind == b.kind && a.kind_text == b.kind_text;
}

}  // namespace tessel
