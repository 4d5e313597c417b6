#include "tessel_client/engine/engine.hpp"

#include <utility>

#include "tessel_client/engine/ascii.hpp"

namespace tessel {

Engine::Engine(Config given) : config(std::move(given)) {
    if (config.username.empty()) config.username = config.nick;
    if (config.realname.empty()) config.realname = config.nick;
    current_nick = config.nick;
    nick_fallback = fresh_nick_fallback(config.nick);
    model = Model::make(config.nick, config.retention);
}

void Engine::queue_line(const IrcMessage& message) {
    std::string line = message.to_line();  // sized up front
    line += "\r\n";
    transmit.push_back(OutgoingLine{std::move(line), LineOrigin::Engine, std::nullopt});
}

std::optional<std::string> Engine::poll_transmit() {
    if (transmit.empty()) return std::nullopt;
    if (transmit.front().origin != LineOrigin::Engine) note_taken_line(transmit.front().text);
    // A chat line whose echo is still owed goes out where nothing else would echo it: taken
    // while down, or after echo-message was withdrawn.
    if (transmit.front().echo != LocalEcho::None && !caps.is_enabled("echo-message"))
        store_local_echo(transmit.front());
    std::string line = std::move(transmit.front().text);
    transmit.pop_front();
    return line;
}

void Engine::note_taken_line(std::string_view text) {
    // Taken, not made, is what counts: a line made while one link was up may go out on the
    // next. The writer puts one space between the parts of a line.
    std::string_view word = text;
    for (const char lead : {'@', ':'}) {
        if (!word.starts_with(lead)) continue;
        const std::size_t space = word.find(' ');
        if (space == std::string_view::npos) return;
        word.remove_prefix(space + 1);
    }
    word = word.substr(0, word.find_first_of(" \r"));
    if (!ascii_iequal(word, "AWAY")) return;
    if (std::optional<IrcMessage> away = parse_line(text))
        link_notes.away_sent = away->params.empty() ? std::string() : std::move(away->params[0]);
}

std::vector<Event> Engine::poll_events() {
    std::vector<Event> taken = std::exchange(events, {});
    // The host drains after every chunk; starting the next round at the last round's size,
    // with some room to spare, mostly spares the queue its regrowth.
    if (!taken.empty()) events.reserve(taken.size() + taken.size() / 2 + 8);
    return taken;
}

}  // namespace tessel
