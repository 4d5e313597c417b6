// Received IRC lines into IrcMessage records, and the message source split.
#include <iterator>

#include "tessel_client/protocol/byte_scan.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/tag_section.hpp"

namespace tessel {
namespace {

inline std::size_t scan_to(std::string_view text, std::size_t pos, char c) { return byte_scan::find(text, pos, c); }

inline std::size_t skip_spaces(std::string_view line, std::size_t pos) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    return pos;
}

}  // namespace

namespace {

// Fills a Source in place, whole: a source reused from an earlier line keeps its buffers.
// Forced inline: it runs for two parts of nearly every line and is left out of line otherwise.
template <class Field>
[[gnu::always_inline]] inline void set_field(std::optional<std::string>& field, Field text) {
    if (field)
        byte_scan::copy_into(*field, text);
    else
        field.emplace(text);
}

void split_source_into(std::string_view text, Source& source) {
    const std::size_t bang = scan_to(text, 0, '!');
    if (bang != text.size()) {
        byte_scan::copy_into(source.name, text.substr(0, bang));
        const std::size_t at = scan_to(text, bang + 1, '@');
        if (at != text.size()) {
            set_field(source.user, text.substr(bang + 1, at - bang - 1));
            set_field(source.host, text.substr(at + 1));
        } else {
            set_field(source.user, text.substr(bang + 1));
            source.host.reset();
        }
        return;
    }
    source.user.reset();
    const std::size_t at = scan_to(text, 0, '@');
    if (at != text.size()) {
        byte_scan::copy_into(source.name, text.substr(0, at));
        set_field(source.host, text.substr(at + 1));
    } else {
        byte_scan::copy_into(source.name, text);
        source.host.reset();
    }
}

}  // namespace

Source split_source(std::string_view text) {
    Source source;
    split_source_into(text, source);
    return source;
}

namespace {

// Fills a message whole; false when the line has no usable shape. A message reused from an
// earlier line keeps its buffers.
bool parse_into(std::string_view line, IrcMessage& msg) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);

    std::size_t pos = 0;
    if (!line.empty() && line[0] == '@') {
        const std::size_t space = parse_tag_section(line, 1, msg.tags);
        if (space == line.size()) return false;
        pos = skip_spaces(line, space);
    } else {
        msg.tags.clear();
    }
    if (pos < line.size() && line[pos] == ':') {
        const std::size_t space = scan_to(line, pos + 1, ' ');
        if (space == line.size()) return false;
        split_source_into(line.substr(pos + 1, space - pos - 1), msg.source ? *msg.source : msg.source.emplace());
        pos = skip_spaces(line, space);
    } else {
        msg.source.reset();
    }

    const std::size_t end = scan_to(line, pos, ' ');
    if (end == pos) return false;
    byte_scan::keep_or_copy(msg.command, line.substr(pos, end - pos));
    pos = end;

    // Find the parameters first, so the list is allocated once at its final size
    // (lines with more than the usual count simply spill into a second buffer).
    struct Span {  // trivial, so the buffer below is not cleared on every call
        std::size_t pos, len;
    };
    Span found[16];
    std::vector<Span> spill;
    std::size_t count = 0;
    for (;;) {
        pos = skip_spaces(line, pos);
        if (pos >= line.size()) break;
        Span span;
        if (line[pos] == ':') {
            span = {pos + 1, line.size() - pos - 1};
            pos = line.size();
        } else {
            const std::size_t stop = scan_to(line, pos, ' ');
            span = {pos, stop - pos};
            pos = stop;
        }
        if (count < std::size(found)) {
            found[count] = span;
        } else {
            if (spill.empty()) spill.assign(std::begin(found), std::end(found));
            spill.push_back(span);
        }
        ++count;
    }
    msg.params.resize(count);
    const Span* spans = spill.empty() ? found : spill.data();
    for (std::size_t i = 0; i < count; ++i) byte_scan::copy_into(msg.params[i], line.substr(spans[i].pos, spans[i].len));
    return true;
}

}  // namespace

std::optional<IrcMessage> parse_line(std::string_view line) {
    // Built in the result itself: a message is a few hundred bytes to move.
    std::optional<IrcMessage> result(std::in_place);
    if (!parse_into(line, *result)) result.reset();
    return result;
}

bool parse_line_into(std::string_view line, IrcMessage& msg) { return parse_into(line, msg); }

}  // namespace tessel
