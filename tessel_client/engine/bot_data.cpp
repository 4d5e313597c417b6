#include "tessel_client/engine/bot_data.hpp"

#include <utility>

#include "tessel_client/engine/base64.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {

std::optional<JsonValue> decode_json_tag(std::string_view value) {
    auto bytes = base64_decode(value);
    if (!bytes || !utf8_valid(*bytes)) return std::nullopt;
    return parse_json_text(*bytes);
}

std::vector<BotCommand> collect_bot_commands(const JsonValue& value) {
    std::vector<BotCommand> commands;
    const JsonValue* list = value.get("commands");
    const JsonValue::Array* items = list ? list->as_array() : nullptr;
    if (!items) return commands;
    commands.reserve(items->size());
    for (const JsonValue& item : *items) {
        const JsonValue* name = item.get("name");
        const std::string* name_text = name ? name->as_string() : nullptr;
        if (!name_text) continue;
        BotCommand& command = commands.emplace_back(BotCommand{*name_text, std::nullopt});
        if (const JsonValue* description = item.get("description")) {
            if (const std::string* text = description->as_string()) command.description = *text;
        }
    }
    return commands;
}

std::optional<BotAnnouncement> read_bot_announcement(const JsonValue& value) {
    const JsonValue* nick = value.get("nick");
    const std::string* nick_text = nick ? nick->as_string() : nullptr;
    if (!nick_text) return std::nullopt;

    BotAnnouncement announcement;
    announcement.nick = *nick_text;
    if (const JsonValue* event = value.get("event")) {
        const std::string* text = event->as_string();
        announcement.withdrawal = text && *text == "remove";
    }
    if (const JsonValue* bot_id = value.get("bot_id")) {
        if (const std::string* text = bot_id->as_string()) announcement.bot_id = *text;
    }
    if (const JsonValue* from_config = value.get("from_config")) {
        const bool* flag = from_config->as_bool();
        announcement.from_config = flag && *flag;
    }
    announcement.commands = collect_bot_commands(value);
    return announcement;
}

void apply_bot_announcement(BotRegistry& bots, std::string key, BotAnnouncement announcement) {
    if (announcement.withdrawal) {
        if (auto it = bots.find(key); it != bots.end()) bots.erase(it);
        return;
    }
    BotInfo bot{std::move(announcement.bot_id), std::move(announcement.nick), {}, announcement.from_config};
    auto placed = bots.insert_or_assign(std::move(key), std::move(bot)).first;
    replace_bot_commands(bots, placed->first, std::move(announcement.commands));
}

}  // namespace tessel
