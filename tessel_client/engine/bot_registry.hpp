// The bot registry: announced bots and the commands each one advertises.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

struct BotCommand {
    std::string name;  // as the bot wrote it
    std::optional<std::string> description;
    bool operator==(const BotCommand&) const = default;
};

struct BotInfo {
    std::optional<std::string> bot_id;
    std::string nick;  // as the announcement wrote it
    std::vector<BotCommand> commands;  // announcement order, sensitive names dropped unless from_config
    bool from_config = false;  // configured by the server itself: its commands are trusted as given
    bool operator==(const BotInfo&) const = default;
};

// Keyed by the nick folded under the connection's current casemapping.
using BotRegistry = std::map<std::string, BotInfo, std::less<>>;

// Commands that would hand credentials or privileges to whoever runs the bot: "oper",
// "identify", "nickserv", "chanserv", "ns", "cs", "register", "pass", "auth", "login", the
// whole name compared with ASCII letters in either case.
bool is_sensitive_command(std::string_view name);

// Gives the bot under `key` a new command list; false (and the list dropped) when no bot is
// registered there.
bool replace_bot_commands(BotRegistry& bots, std::string_view key, std::vector<BotCommand> commands);

}  // namespace tessel
