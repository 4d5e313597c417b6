// The host JSON snapshot of the whole model. The writers only read: several snapshots of
// one model may be written at once from different threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/model/model.hpp"

namespace tessel {

std::string model_to_json(const Model& model);
// Appends the object of one message log: messages oldest first, msgid index, retention.
void message_log_to_json(const MessageLog& log, std::string& out);

// The stored msgids of a log in the snapshot's order (by bytes), each with its message and the
// message's place in the log (oldest 0).
struct MsgidOrder {
    std::string_view msgid;
    const LogMessage* message;
    std::size_t position;
};
std::vector<MsgidOrder> msgids_in_order(const MessageLog& log);

// The "type" word of a message kind (an index into MessageKind::Value).
std::string_view message_kind_word(std::size_t kind);

// Field writers used throughout the snapshot.
void metadata_to_json(const TextMap& metadata, std::string& out);  // object of strings
void typing_to_json(const FoldedSet& typing, std::string& out);    // array of nicks
// Appends ,"retention":N (the member follows others in every object that has it).
void retention_to_json(std::uint64_t retention, std::string& out);

}  // namespace tessel
