// Bot announcements, bot command lists and the allowed-command list: the engine's side only
// finds the tag, folds the nick and reports; the records are handled in bot_data and
// allowed_commands.
#include "tessel_client/engine/bot_data.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

void Engine::on_bot_info(const IrcMessage& message) {
    auto value = decode_json_tag(*find_tag(message.tags, "tesselnet/bot-info"));
    if (!value) return;
    auto announcement = read_bot_announcement(std::move(*value));
    if (!announcement) return;
    std::string nick = announcement->nick;
    apply_bot_announcement(bots, irc_fold(isupport.casemapping, nick), std::move(*announcement));
    // Also for the withdrawal of a bot that was never registered: the host may hold its own list.
    emit(Event::BotsChanged{std::move(nick)});
}

void Engine::on_bot_commands(const IrcMessage& message) {
    if (!message.source) return;
    auto value = decode_json_tag(*find_tag(message.tags, "+draft/bot-cmds"));
    if (!value) return;
    const std::string& nick = message.source->name;
    // Only a bot's own nick can change its list, and only once it has been announced.
    if (replace_bot_commands(bots, irc_fold(isupport.casemapping, nick), collect_bot_commands(std::move(*value))))
        emit(Event::BotsChanged{nick});
}

void Engine::on_cmdslist(const IrcMessage& message) {
    apply_cmdslist(allowed_commands, message);
    emit(Event::AllowedCommandsChanged{});
}

}  // namespace tessel
