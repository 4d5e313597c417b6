// Host command lines that wait for the server to register us, and what a link that ends
// leaves behind.
//
// Strategy: a server answers every command before 001 with "not registered", so the lines of
// host commands wait in `held` from handle_connected until the resume burst after 001 has
// gone out, in the order they were made: first the host command lines the transmit queue still
// held when the link came up (a dead link's, and commands given while down), then the commands
// given during registration. The host's raw lines and invitation codes, which are what a server
// must see before registration, keep their place ahead of a new burst, as do the engine's own
// lines made while down; NICK and QUIT given while a link is up go out at once. A held
// request's answer time has not begun: its deadline is set when its line goes out, and a held
// chat line's local echo is decided then, by the link that takes it.
//
// What a link left untaken when it ends belongs to a conversation that is over: the engine's
// own lines go, the host's lines lose the labels given for that link (their requests forgotten),
// and a chat line whose echo that link's server was to send owes its local echo again.
#include <algorithm>
#include <limits>
#include <utility>

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

// Takes the item "label=<label>" out of a written line's tag section, and the section with it
// when nothing else is left there. The writer writes an engine label as it is: it needs no
// escaping.
void erase_label_tag(std::string& text, std::string_view label) {
    if (!text.starts_with('@')) return;
    const std::size_t end = std::min(text.find(' '), text.size());
    for (std::size_t start = 1; start < end;) {
        const std::size_t stop = std::min(text.find(';', start), end);
        const std::string_view item = std::string_view(text).substr(start, stop - start);
        if (item.size() == label.size() + 6 && item.starts_with("label=") && item.ends_with(label)) {
            if (stop < end)
                text.erase(start, stop - start + 1);  // with the ';' after it
            else if (start > 1)
                text.erase(start - 1, stop - start + 1);  // the last item: with the ';' before it
            else
                text.erase(0, std::min(end + 1, text.size()));  // the only one: the section and its space
            return;
        }
        start = stop + 1;
    }
}

}  // namespace

void Engine::queue_command_line(const IrcMessage& message, Sending sending, std::optional<std::string> label,
                                LocalEcho echo) {
    OutgoingLine line{line_text(message), sending == Sending::AtOnce ? LineOrigin::Early : LineOrigin::Command,
                      std::move(label), echo};
    const bool registering = link == LinkState::Negotiating || link == LinkState::Registering;
    if (registering && sending == Sending::WhenRegistered)
        hold_line(std::move(line));
    else
        transmit.push_back(std::move(line));
}

void Engine::hold_line(OutgoingLine line) {
    if (line.label) {
        if (auto it = pending_labels.find(*line.label); it != pending_labels.end())
            pending_labels.update(it, [](PendingLabel& request) { request.deadline = kNotSentYet; });
    }
    held.push_back(std::move(line));
}

void Engine::set_aside_command_lines() {
    std::deque<OutgoingLine> kept;
    for (OutgoingLine& line : transmit) {
        if (line.origin == LineOrigin::Command)
            hold_line(std::move(line));
        else
            kept.push_back(std::move(line));
    }
    transmit = std::move(kept);
}

void Engine::release_held_lines() {
    const std::uint64_t deadline = saturating_add(now_ms, kLabelAnswerMs);
    const bool server_echoes = caps.is_enabled("echo-message");
    for (OutgoingLine& line : held) {
        if (line.label) {
            if (auto it = pending_labels.find(*line.label); it != pending_labels.end())
                pending_labels.update(it, [deadline](PendingLabel& request) { request.deadline = deadline; });
        }
        if (line.echo == LocalEcho::Owed) {
            if (server_echoes) {
                line.echo = LocalEcho::ServerEchoes;
            } else {
                store_local_echo(line);
                line.echo = LocalEcho::None;
            }
        }
        transmit.push_back(std::move(line));
    }
    held.clear();
}

void Engine::end_link_lines(bool drop_own_lines) {
    if (drop_own_lines)
        std::erase_if(transmit, [](const OutgoingLine& line) { return line.origin == LineOrigin::Engine; });
    auto unlabel = [this](OutgoingLine& line) {
        if (!line.label) return;
        erase_label_tag(line.text, *line.label);
        // No reply can come for a line the server never saw, so no command_timed_out either.
        if (auto it = pending_labels.find(*line.label); it != pending_labels.end()) {
            if (const auto& batch = it->second.batch) batch_labels.erase(*batch);
            pending_labels.erase(it);
        }
        line.label.reset();
    };
    for (OutgoingLine& line : transmit) {
        unlabel(line);
        if (line.echo == LocalEcho::ServerEchoes) line.echo = LocalEcho::Owed;
    }
    for (OutgoingLine& line : held) unlabel(line);
}

}  // namespace tessel
