// The set of command names the server allows this user, kept from CMDSLIST messages.
#pragma once

#include <set>
#include <string>

#include "tessel_client/protocol/message.hpp"

namespace tessel {

using AllowedCommands = std::set<std::string, std::less<>>;  // upper-cased names

// Every parameter is cut at Unicode white space into words: "+NAME" adds, "-NAME" removes
// (NAME with ASCII letters upper-cased), anything else (a target nick, plain text) is ignored.
void apply_cmdslist(AllowedCommands& allowed, const IrcMessage& message);

}  // namespace tessel
