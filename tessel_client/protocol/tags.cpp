// Message tags: the ";"-separated section after "@", tag lookup and replacement.
#include <iterator>

#include "tessel_client/protocol/byte_scan.hpp"
#include "tessel_client/protocol/message.hpp"

namespace tessel {
namespace {

// One piece of a tag section, found in a single scan. Trivial, so a buffer of them
// costs nothing to set up.
struct Piece {
    const char* key;
    std::size_t key_len;
    const char* value;      // escaped text after the first "="
    std::size_t value_len;  // 0 when there is no "=" or nothing after it
    bool escaped;           // the value holds a "\"
};

// Reads the piece at the start of `rest` and advances `rest` past its ";".
inline Piece next_piece(std::string_view& rest) {
    std::size_t i = byte_scan::find_either(rest, 0, ';', '=');
    Piece piece{rest.data(), i, rest.data() + i, 0, false};
    if (i < rest.size() && rest[i] == '=') {
        const std::size_t value = ++i;
        i = byte_scan::find_either(rest, i, ';', '\\');
        if (i < rest.size() && rest[i] == '\\') {
            piece.escaped = true;
            i = byte_scan::find(rest, i, ';');
        }
        piece.value = rest.data() + value;
        piece.value_len = i - value;
    }
    rest = i < rest.size() ? rest.substr(i + 1) : std::string_view();
    return piece;
}

// Undoes the IRCv3 tag value escaping in one scan.
void unescape_tag_value(std::string_view raw, std::string& out) {
    out.reserve(raw.size());
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < raw.size()) {
        if (raw[i] != '\\') {
            ++i;
            continue;
        }
        out.append(raw.data() + run, i - run);
        if (i + 1 < raw.size()) {
            switch (const char c = raw[i + 1]) {
                case ':': out.push_back(';'); break;
                case 's': out.push_back(' '); break;
                case 'r': out.push_back('\r'); break;
                case 'n': out.push_back('\n'); break;
                default: out.push_back(c); break;  // "\\" and any other: the character alone
            }
        }
        // A final lone "\" is dropped.
        i += 2;
        run = i;
    }
    if (run < raw.size()) out.append(raw.data() + run, raw.size() - run);
}

// Fills `tag` whole; a tag reused from an earlier line keeps its buffers.
void fill_tag(const Piece& piece, Tag& tag) {
    byte_scan::copy_into(tag.key, std::string_view(piece.key, piece.key_len));
    if (piece.value_len == 0) {
        tag.value.reset();
        return;
    }
    if (!piece.escaped) {
        if (tag.value)
            byte_scan::copy_into(*tag.value, std::string_view(piece.value, piece.value_len));
        else
            tag.value.emplace(piece.value, piece.value_len);  // copied in one piece
        return;
    }
    std::string value;
    unescape_tag_value(std::string_view(piece.value, piece.value_len), value);
    // "k=\" unescapes to nothing: keep the rule that a received value is never empty.
    if (value.empty())
        tag.value.reset();
    else
        tag.value = std::move(value);
}

}  // namespace

std::optional<Tag> TagIter::next_tag() {
    while (!done_) {
        if (rest_.empty()) {
            done_ = true;
        } else if (rest_.front() == ';') {
            rest_.remove_prefix(1);  // an empty piece
        } else {
            Tag tag;
            fill_tag(next_piece(rest_), tag);
            return tag;
        }
    }
    return std::nullopt;
}

void parse_tags_into(std::string_view section, std::vector<Tag>& tags) {
    // Find the pieces first, so the list is sized once.
    Piece found[16];
    std::vector<Piece> spill;
    std::size_t count = 0;
    while (!section.empty()) {
        if (section.front() == ';') {
            section.remove_prefix(1);  // an empty piece
            continue;
        }
        const Piece piece = next_piece(section);
        if (count < std::size(found)) {
            found[count] = piece;
        } else {
            if (spill.empty()) spill.assign(std::begin(found), std::end(found));
            spill.push_back(piece);
        }
        ++count;
    }
    tags.resize(count);
    const Piece* pieces = spill.empty() ? found : spill.data();
    for (std::size_t i = 0; i < count; ++i) fill_tag(pieces[i], tags[i]);
}

std::vector<Tag> parse_tags(std::string_view section) {
    std::vector<Tag> tags;
    parse_tags_into(section, tags);
    return tags;
}

std::optional<std::string_view> find_tag(const std::vector<Tag>& tags, std::string_view key) {
    for (auto it = tags.rbegin(); it != tags.rend(); ++it) {
        if (it->key == key) {
            if (!it->value) return std::nullopt;
            return std::string_view(*it->value);
        }
    }
    return std::nullopt;
}

void upsert_tag(std::vector<Tag>& tags, Tag tag) {
    for (Tag& existing : tags) {
        if (existing.key == tag.key) {
            existing = std::move(tag);
            return;
        }
    }
    tags.push_back(std::move(tag));
}

}  // namespace tessel
