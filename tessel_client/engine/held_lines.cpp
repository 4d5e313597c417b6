// Host command lines that wait for the server to register us.
//
// Strategy: a server answers every command before 001 with "not registered", so the lines of
// host commands wait in `held` from handle_connected until the resume burst after 001 has
// gone out, in the order they were made: first whatever the transmit queue still held when the
// link came up (a dead link's lines, and commands given while down), then the commands given
// during registration. Only the host's raw lines and invitation codes skip the wait, since they
// are what a server must see before registration. A held request's answer time has not begun:
// its deadline is set when its line goes out.
#include <limits>
#include <utility>
#include <vector>

#include "tessel_client/engine/engine.hpp"

namespace tessel {
namespace {

// Never reached by the clock: a request whose line has not gone out cannot time out.
constexpr std::uint64_t kNotSentYet = std::numeric_limits<std::uint64_t>::max();

std::string line_text(const IrcMessage& message) {
    std::string line = message.to_line();
    line += "\r\n";
    return line;
}

// The label a queued line carries in its tag section, if any.
std::optional<std::string> label_in(std::string_view line) {
    if (!line.starts_with('@')) return std::nullopt;
    const std::string_view section = line.substr(1, line.find(' ') - 1);
    if (section.find("label=") == std::string_view::npos) return std::nullopt;
    const std::vector<Tag> tags = parse_tags(section);  // the found value views into these
    std::optional<std::string_view> label = find_tag(tags, "label");
    if (!label) return std::nullopt;
    return std::string(*label);
}

}  // namespace

void Engine::queue_command_line(const IrcMessage& message, Sending sending,
                                const std::optional<std::string>& label) {
    const bool registering = link == LinkState::Negotiating || link == LinkState::Registering;
    if (sending == Sending::AtOnce || !registering) {
        transmit.push_back(OutgoingLine{line_text(message), sending == Sending::AtOnce});
        return;
    }
    hold_line(line_text(message), label);
}

void Engine::hold_line(std::string text, std::optional<std::string> label) {
    if (label) {
        if (auto it = pending_labels.find(*label); it != pending_labels.end())
            pending_labels.update(it, [](PendingLabel& request) { request.deadline = kNotSentYet; });
        else
            label.reset();  // settled or timed out already: nothing to time
    }
    held.push_back(HeldLine{std::move(text), std::move(label)});
}

void Engine::set_aside_unsent_lines() {
    std::deque<OutgoingLine> early;
    for (OutgoingLine& line : transmit) {
        if (line.early) {
            early.push_back(std::move(line));
        } else {
            std::optional<std::string> label = label_in(line.text);
            hold_line(std::move(line.text), std::move(label));
        }
    }
    transmit = std::move(early);
}

void Engine::release_held_lines() {
    const std::uint64_t deadline = saturating_add(now_ms, kLabelAnswerMs);
    for (HeldLine& line : held) {
        if (line.label) {
            if (auto it = pending_labels.find(*line.label); it != pending_labels.end())
                pending_labels.update(it, [deadline](PendingLabel& request) { request.deadline = deadline; });
        }
        transmit.push_back(OutgoingLine{std::move(line.text)});
    }
    held.clear();
}

}  // namespace tessel
