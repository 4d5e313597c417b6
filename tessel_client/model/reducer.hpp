// The one door through which an incoming message changes the model.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/protocol/isupport.hpp"
#include "tessel_client/protocol/message.hpp"

namespace tessel {

// Built by the engine for one call.
struct ReduceContext {
    Model& model;
    const Isupport& isupport;
    std::uint64_t& unix_ms;   // the engine's Unix clock; raised to a later server time
    bool historical = false;  // a chathistory batch is being replayed
};

// Applies the message and returns what changed, in order; never fails.
// While `historical` is set only PRIVMSG, NOTICE, TAGMSG and REDACT are applied: a replayed
// JOIN, PART, NICK or MODE describes the past and must not rewrite the live state.
std::vector<Change> reduce_message(ReduceContext& ctx, const IrcMessage& message);
// The same into `out`, which is cleared first and keeps its buffer: a stored chat message,
// the usual case, then costs no allocation for its change.
void reduce_message_into(ReduceContext& ctx, const IrcMessage& message, std::vector<Change>& out);

// A message is own when its source name (empty without a source) equals the own nick.
bool is_own_message(const Model& model, const Isupport& isupport, const IrcMessage& message);
// The source name, or "" without a source.
std::string_view source_nick(const IrcMessage& message);

}  // namespace tessel
