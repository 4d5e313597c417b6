#include "tessel_client/engine/monitor.hpp"

namespace tessel {

std::vector<std::string> chunk_monitor_targets(const std::vector<std::string>& nicks, std::uint32_t limit) {
    std::size_t per_group = limit == 0 ? 1 : limit;
    std::vector<std::string> groups;
    for (std::size_t i = 0; i < nicks.size(); i += per_group) {
        std::string group;
        for (std::size_t j = i; j < nicks.size() && j < i + per_group; ++j) {
            if (j != i) group.push_back(',');
            group += nicks[j];
        }
        groups.push_back(std::move(group));
    }
    return groups;
}

}  // namespace tessel

#include "tessel_client/engine/engine.hpp"
#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

void Engine::update_monitor(const std::vector<std::string>& nicks, bool watch) {
    for (const std::string& nick : nicks) {
        std::string folded = irc_fold(isupport.casemapping, nick);
        if (watch) {
            monitor_watched.insert(std::move(folded));
        } else {
            if (auto it = monitor_watched.find(folded); it != monitor_watched.end()) monitor_watched.erase(it);
            if (auto it = monitor_online.find(folded); it != monitor_online.end()) monitor_online.erase(it);
        }
    }
    const std::uint32_t limit = isupport.number("MONITOR").value_or(kDefaultMonitorLimit);
    for (std::string& group : chunk_monitor_targets(nicks, limit))
        queue_command_line(IrcMessage::make("MONITOR", watch ? "+" : "-", std::move(group)), Sending::WhenRegistered,
                           std::nullopt);
}

void Engine::monitor_reply(const IrcMessage& message) {
    const bool online = message.command == "730";
    if (message.params.size() < 2) return;
    std::string_view targets = message.params[1];
    while (!targets.empty()) {
        std::size_t comma = targets.find(',');
        std::string_view target = targets.substr(0, comma);
        targets = comma == std::string_view::npos ? std::string_view() : targets.substr(comma + 1);
        if (target.empty()) continue;
        std::string_view nick = target.substr(0, target.find('!'));
        std::string folded = irc_fold(isupport.casemapping, nick);
        if (online) {
            monitor_watched.insert(folded);
            monitor_online.insert(std::move(folded));
        } else if (auto it = monitor_online.find(folded); it != monitor_online.end()) {
            monitor_online.erase(it);
        }
        emit(Event::PresenceChanged{std::string(nick), online});
    }
}

}  // namespace tessel
