// Message tags: the ";"-separated section after "@", tag lookup and replacement.
#include <iterator>

#include "tessel_client/protocol/byte_scan.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/tag_section.hpp"

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

// Fills `tag` whole; a tag reused from an earlier line keeps its buffers. Forced inline: it
// runs for every tag, and is left out of line otherwise.
[[gnu::always_inline]] inline void fill_tag(const Piece& piece, Tag& tag) {
    byte_scan::keep_or_copy(tag.key, std::string_view(piece.key, piece.key_len));
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

namespace {

// Where the bytes that split a tag section (";", "=", "\") and a space lie in a block of up
// to 32 bytes: bit k for byte k.
struct Marks {
    unsigned splits, space;
};

inline Marks marks_bytewise(const char* p, std::size_t len) {
    Marks m{0, 0};
    for (std::size_t k = 0; k < len; ++k) {
        const char c = p[k];
        if (c == ';' || c == '=' || c == '\\') m.splits |= 1u << k;
        if (c == ' ') m.space |= 1u << k;
    }
    return m;
}

#if defined(__SSE2__)
inline Marks marks16(const char* p) {
    const __m128i v = byte_scan::load16(p);
    const __m128i splits = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(';')), _mm_cmpeq_epi8(v, _mm_set1_epi8('='))),
        _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
    return {byte_scan::mask16(splits), byte_scan::mask16(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')))};
}

inline Marks marks32(const char* p) {
    const Marks lo = marks16(p), hi = marks16(p + 16);
    return {lo.splits | hi.splits << 16, lo.space | hi.space << 16};
}
#endif

// The block of `text` starting at `i`: 16 bytes, or what is left of the text.
inline Marks marks_at(std::string_view text, std::size_t i) {
    const char* p = text.data();
    const std::size_t n = text.size();
#if defined(__SSE2__)
    if (i + 16 <= n) return marks16(p + i);
    if (n >= 16) {
        // The last block overlaps the one before; its bytes already seen are shifted out.
        const unsigned shift = static_cast<unsigned>(i - (n - 16));
        const Marks m = marks16(p + n - 16);
        return {m.splits >> shift, m.space >> shift};
    }
#endif
    return marks_bytewise(p + i, n - i < 16 ? n - i : 16);
}

// Splits a tag section into pieces in one scan, `add` taking each nonempty one. The section
// starts at `from` and runs to the end of `text` or, with StopAtSpace, to the first space;
// returns where it ends.
template <bool StopAtSpace, class Add>
std::size_t scan_pieces(std::string_view text, std::size_t from, Add add) {
    constexpr std::size_t npos = std::string_view::npos;
    const char* p = text.data();
    std::size_t start = from;  // of the current piece
    std::size_t equals = npos;  // its first "=", if any yet
    bool escaped = false;       // a "\" after that "="
    const auto close = [&](std::size_t end) {
        if (end == start) return;  // an empty piece
        Piece piece{p + start, end - start, p + end, 0, escaped};
        if (equals != npos) {
            piece.key_len = equals - start;
            piece.value = p + equals + 1;
            piece.value_len = end - equals - 1;
        }
        add(piece);
    };
    // Takes the block at `i`; true when the section ends in it (at `end`).
    std::size_t end = text.size();
    const auto block = [&](const Marks& m, std::size_t i) {
        unsigned events = m.splits;
        if (StopAtSpace && m.space) events &= (m.space & -m.space) - 1;  // only those before it
        for (; events; events &= events - 1) {
            const std::size_t pos = i + static_cast<std::size_t>(__builtin_ctz(events));
            const char c = p[pos];
            if (c == ';') {
                close(pos);
                start = pos + 1;
                equals = npos;
                escaped = false;
            } else if (c == '=') {
                if (equals == npos) equals = pos;
            } else if (equals != npos) {
                escaped = true;
            }
        }
        if (StopAtSpace && m.space) {
            end = i + static_cast<std::size_t>(__builtin_ctz(m.space));
            return true;
        }
        return false;
    };
    std::size_t i = from;
    bool ended = false;
#if defined(__SSE2__)
    for (; !ended && i + 32 <= text.size(); i += 32) ended = block(marks32(p + i), i);
#endif
    for (; !ended && i < text.size(); i += 16) ended = block(marks_at(text, i), i);
    close(end);
    return end;
}

// Fills `tags` whole from a section (see scan_pieces), reusing its elements.
template <bool StopAtSpace>
std::size_t fill_tags(std::string_view text, std::size_t from, std::vector<Tag>& tags) {
    // Find the pieces first, so the list is sized once.
    Piece found[16];
    std::vector<Piece> spill;
    std::size_t count = 0;
    const std::size_t end = scan_pieces<StopAtSpace>(text, from, [&](const Piece& piece) {
        if (count < std::size(found)) {
            found[count] = piece;
        } else {
            if (spill.empty()) spill.assign(std::begin(found), std::end(found));
            spill.push_back(piece);
        }
        ++count;
    });
    tags.resize(count);
    const Piece* pieces = spill.empty() ? found : spill.data();
    for (std::size_t i = 0; i < count; ++i) fill_tag(pieces[i], tags[i]);
    return end;
}

}  // namespace

void parse_tags_into(std::string_view section, std::vector<Tag>& tags) { fill_tags<false>(section, 0, tags); }

std::size_t parse_tag_section(std::string_view line, std::size_t from, std::vector<Tag>& tags) {
    return fill_tags<true>(line, from, tags);
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
