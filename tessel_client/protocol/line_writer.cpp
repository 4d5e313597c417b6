// IrcMessage records into the text of one IRC line (the caller appends CR LF).
//
// Every part but the escaped tag values is written as it is, except that CR, LF and
// NUL become spaces: a message always yields exactly one line, so text handed in by
// the host cannot smuggle further commands onto the connection.
#include "tessel_client/protocol/byte_scan.hpp"
#include "tessel_client/protocol/message.hpp"

namespace tessel {
namespace {

inline bool breaks_line(char c) { return c == '\r' || c == '\n' || c == '\0'; }

// Position of the first CR, LF or NUL at or after `i`, or text.size().
inline std::size_t find_break(std::string_view text, std::size_t i) {
    // Bytes below 0x0E take the slow path: that range holds NUL, LF and CR.
    while (i + 8 <= text.size() && !byte_scan::has_byte_below(byte_scan::load8(text.data() + i), 0x0E)) i += 8;
    while (i < text.size() && !breaks_line(text[i])) ++i;
    return i;
}

void append_one_line(std::string_view text, std::string& out) {
    std::size_t run = 0;
    for (std::size_t i = find_break(text, 0); i < text.size(); i = find_break(text, i + 1)) {
        out.append(text.data() + run, i - run);
        out.push_back(' ');
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

// The last parameter needs ":" when it would otherwise not read back as one parameter.
// A CR, LF or NUL counts as a space here, since it is written as one.
bool needs_colon(std::string_view param) {
    if (param.empty() || param.front() == ':') return true;
    return param.find(' ') != std::string_view::npos || find_break(param, 0) != param.size();
}

}  // namespace

void escape_tag_value(std::string_view value, std::string& out) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char letter;
        switch (value[i]) {
            case ';': letter = ':'; break;
            // A NUL would cut the line short for many servers; it reads back as a space.
            case ' ':
            case '\0': letter = 's'; break;
            case '\\': letter = '\\'; break;
            case '\r': letter = 'r'; break;
            case '\n': letter = 'n'; break;
            default: continue;
        }
        out.append(value.data() + run, i - run);
        out.push_back('\\');
        out.push_back(letter);
        run = i + 1;
    }
    out.append(value.data() + run, value.size() - run);
}

void replace_line_breaks(std::string& text) {
    for (std::size_t i = find_break(text, 0); i < text.size(); i = find_break(text, i + 1)) text[i] = ' ';
}

void write_tags(const std::vector<Tag>& tags, std::string& out) {
    bool first = true;
    for (const Tag& tag : tags) {
        if (!first) out.push_back(';');
        first = false;
        append_one_line(tag.key, out);
        if (tag.value) {
            out.push_back('=');
            escape_tag_value(*tag.value, out);
        }
    }
}

void Source::write(std::string& out) const {
    append_one_line(name, out);
    if (user) {
        out.push_back('!');
        append_one_line(*user, out);
    }
    if (host) {
        out.push_back('@');
        append_one_line(*host, out);
    }
}

void IrcMessage::write(std::string& out) const {
    // A command that begins with "@" would read back as a tag section: with no tags and no
    // source in front of it, an empty tag section goes first.
    if (!tags.empty() || (!source && command.starts_with('@'))) {
        out.push_back('@');
        write_tags(tags, out);
        out.push_back(' ');
    }
    if (source) {
        out.push_back(':');
        source->write(out);
        out.push_back(' ');
    }
    append_one_line(command, out);
    for (std::size_t i = 0; i < params.size(); ++i) {
        out.push_back(' ');
        if (i + 1 == params.size() && needs_colon(params[i])) out.push_back(':');
        append_one_line(params[i], out);
    }
}

std::string IrcMessage::to_line() const {
    std::size_t size = command.size() + 2 * params.size() + 1;
    for (const std::string& p : params) size += p.size();
    for (const Tag& t : tags) size += t.key.size() + (t.value ? t.value->size() + 2 : 1);
    if (source) {
        size += source->name.size() + 2;
        if (source->user) size += source->user->size() + 1;
        if (source->host) size += source->host->size() + 1;
    }
    std::string out;
    out.reserve(size + 1);
    write(out);
    return out;
}

}  // namespace tessel
