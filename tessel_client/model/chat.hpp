// PRIVMSG, NOTICE and TAGMSG: stored messages, reactions and link previews.
#pragma once

#include <string_view>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/model/reducer.hpp"

namespace tessel {

// `command` is the word in ASCII upper case: "PRIVMSG", "NOTICE" or "TAGMSG".
std::vector<Change> reduce_chat_message(ReduceContext& ctx, const IrcMessage& message, std::string_view command);
// The same into `out` (empty on entry), whose buffer a caller may reuse from message to message.
void reduce_chat_message_into(ReduceContext& ctx, const IrcMessage& message, std::string_view command,
                              std::vector<Change>& out);

// Whether `text` names `own_nick` as a whole word (both folded under `mapping`).
bool mentions_nick(CaseMapping mapping, std::string_view own_nick, std::string_view text);
// Letters, digits and the nick punctuation "[]\`_^{|}-".
bool is_word_char(char32_t c);

// The log a reaction, preview or redaction aimed at `target` refers to: the channel under the
// folded target, else the conversation under it; a private one aimed at the own nick refers to
// the sender's conversation. `name` receives the name that log is reported under.
MessageLog* find_target_log(Model& model, const Isupport& isupport, std::string_view target,
                            std::string_view sender, std::string_view& name);

}  // namespace tessel
