#include "tessel_client/engine/bot_registry.hpp"

#include <algorithm>
#include <array>

#include "tessel_client/engine/ascii.hpp"

namespace tessel {

bool is_sensitive_command(std::string_view name) {
    static constexpr std::array<std::string_view, 10> kSensitive = {
        "oper", "identify", "nickserv", "chanserv", "ns", "cs", "register", "pass", "auth", "login",
    };
    return std::any_of(kSensitive.begin(), kSensitive.end(),
                       [name](std::string_view word) { return ascii_iequal(name, word); });
}

bool replace_bot_commands(BotRegistry& bots, std::string_view key, std::vector<BotCommand> commands) {
    auto it = bots.find(key);
    if (it == bots.end()) return false;
    BotInfo& bot = it->second;
    if (!bot.from_config) {
        std::erase_if(commands, [](const BotCommand& c) { return is_sensitive_command(c.name); });
    }
    bot.commands = std::move(commands);
    return true;
}

}  // namespace tessel
