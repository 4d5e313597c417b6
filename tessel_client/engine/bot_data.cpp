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

namespace {

// The value of the first pair with this key, for the caller to take from.
JsonValue* first_pair(JsonValue& object, std::string_view key) {
    auto* pairs = std::get_if<JsonValue::Object>(&object.value);
    if (!pairs) return nullptr;
    for (auto& [k, v] : *pairs)
        if (k == key) return &v;
    return nullptr;
}

std::string* string_at(JsonValue& object, std::string_view key) {
    JsonValue* value = first_pair(object, key);
    return value ? std::get_if<std::string>(&value->value) : nullptr;
}

}  // namespace

std::vector<BotCommand> collect_bot_commands(JsonValue&& value) {
    std::vector<BotCommand> commands;
    JsonValue* list = first_pair(value, "commands");
    JsonValue::Array* items = list ? std::get_if<JsonValue::Array>(&list->value) : nullptr;
    if (!items) return commands;
    commands.reserve(items->size());
    for (JsonValue& item : *items) {
        std::string* name = string_at(item, "name");
        if (!name) continue;
        BotCommand& command = commands.emplace_back(BotCommand{std::move(*name), std::nullopt});
        if (std::string* description = string_at(item, "description")) command.description = std::move(*description);
    }
    return commands;
}

std::optional<BotAnnouncement> read_bot_announcement(JsonValue&& value) {
    std::string* nick = string_at(value, "nick");
    if (!nick) return std::nullopt;

    BotAnnouncement announcement;
    announcement.nick = std::move(*nick);
    if (const JsonValue* event = value.get("event")) {
        const std::string* text = event->as_string();
        announcement.withdrawal = text && *text == "remove";
    }
    if (std::string* bot_id = string_at(value, "bot_id")) announcement.bot_id = std::move(*bot_id);
    if (const JsonValue* from_config = value.get("from_config")) {
        const bool* flag = from_config->as_bool();
        announcement.from_config = flag && *flag;
    }
    announcement.commands = collect_bot_commands(std::move(value));
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
