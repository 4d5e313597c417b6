// Line parser and writer: whatever parses is written as exactly one line that parses back to
// the same message. The two losses the writer accepts are left out of the comparison: CR, LF
// and NUL become spaces (NUL in a tag value too, where CR and LF are escaped), and a tag with
// an empty key and no value is written as nothing.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "tessel_client/protocol/message.hpp"

namespace tessel {
namespace {

bool breaks_line(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos; }

// The message has nothing the writer must replace or drop.
bool writes_losslessly(const IrcMessage& m) {
    for (const Tag& t : m.tags) {
        if (breaks_line(t.key) || (t.key.empty() && !t.value)) return false;
        if (t.value && t.value->find('\0') != std::string::npos) return false;  // escaped as a space
    }
    if (m.source) {
        if (breaks_line(m.source->name)) return false;
        if (m.source->user && breaks_line(*m.source->user)) return false;
        if (m.source->host && breaks_line(*m.source->host)) return false;
    }
    if (breaks_line(m.command)) return false;
    for (const std::string& p : m.params)
        if (breaks_line(p)) return false;
    return true;
}

// No CR, LF or NUL reaches the line, whatever the message holds.
void check_one_line(std::string_view line) { FUZZ_CHECK(!breaks_line(line)); }

void check_round_trip(const IrcMessage& message) {
    std::string line;
    message.write(line);
    check_one_line(line);
    FUZZ_CHECK(line == message.to_line());
    const auto back = parse_line(line);
    if (writes_losslessly(message)) {
        FUZZ_CHECK(back);
        FUZZ_CHECK(*back == message);
    }
}

}  // namespace
}  // namespace tessel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    if (const auto message = parse_line(input)) {
        check_round_trip(*message);
        // So does the message read back, lossy or not.
        if (const auto again = parse_line(message->to_line())) check_round_trip(*again);
    }

    // Host text in every part of a message still gives one line.
    IrcMessage host = IrcMessage::make(input, std::string(input), std::string(input));
    host.source = Source{std::string(input), std::string(input), std::string(input)};
    host.tags.push_back(Tag{std::string(input), std::string(input)});
    std::string line;
    host.write(line);
    check_one_line(line);
    return 0;
}
