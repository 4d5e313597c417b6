// KICK, NICK and QUIT.
#pragma once

#include <string>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/protocol/isupport.hpp"
#include "tessel_client/protocol/message.hpp"

namespace tessel {

std::vector<Change> reduce_kick(Model& model, const Isupport& isupport, const std::vector<std::string>& params);
std::vector<Change> reduce_nick(Model& model, const Isupport& isupport, const IrcMessage& message);
std::vector<Change> reduce_quit(Model& model, const Isupport& isupport, const IrcMessage& message);

// One channel_members_changed per channel key, naming the channel as stored.
std::vector<Change> quit_member_changes(const Model& model, const std::vector<std::string>& channel_keys);

}  // namespace tessel
