// Bot data carried in message tags: base64 of a JSON value, read into announcements and
// command lists.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/engine/bot_registry.hpp"
#include "tessel_client/protocol/json_value.hpp"

namespace tessel {

// What one announcement says, before it touches the registry.
struct BotAnnouncement {
    std::string nick;
    bool withdrawal = false;  // "event" was exactly "remove"
    std::optional<std::string> bot_id;
    bool from_config = false;  // only the JSON value true sets it
    std::vector<BotCommand> commands;  // unfiltered
};

// Strict base64 of UTF-8 text holding exactly one JSON value (space, tab, LF or CR around it
// allowed); nothing for anything else.
std::optional<JsonValue> decode_json_tag(std::string_view value);

// The "commands" array of an object, in order, duplicates kept. Elements that are not objects
// or whose first "name" is not a string are skipped; a "description" that is not a string
// counts as absent. Empty when there is no such array.
// The strings are moved out of `value`.
std::vector<BotCommand> collect_bot_commands(JsonValue&& value);

// Nothing when the value is not an object or its first "nick" is not a string. The strings
// are moved out of `value`.
std::optional<BotAnnouncement> read_bot_announcement(JsonValue&& value);

// Withdraws the bot under `key`, or registers it anew (replacing any earlier entry) with the
// announced commands, filtered unless it comes from the server's configuration.
void apply_bot_announcement(BotRegistry& bots, std::string key, BotAnnouncement announcement);

}  // namespace tessel
