// Bot announcements, bot command lists and the allowed-command list.
#include "tessel_client/engine/engine.hpp"

namespace tessel {

// PENDING(bots): keep the registry and the allowed commands. Until then the data is consumed
// unread.
void Engine::on_bot_info(const IrcMessage&) {}
void Engine::on_bot_commands(const IrcMessage&) {}
void Engine::on_cmdslist(const IrcMessage&) {}

}  // namespace tessel
