// The host JSON form of the events the engine queues.
#pragma once

#include <string>
#include <string_view>
#include <span>

#include "tessel_client/engine/event.hpp"
#include "tessel_client/formats/json_writer.hpp"
#include "tessel_client/model/message_log.hpp"

namespace tessel {

// The whole drained list as one JSON array ("[]" when empty); cannot fail.
std::string events_to_json(std::span<const Event> events);
// Appends one event's object.
void event_to_json(const Event& event, std::string& out);
// The "type" words of an event and of a model change, by variant index.
std::string_view event_type_word(std::size_t index);
std::string_view change_type_word(std::size_t index);
// Appends {"time_ms":..,"seq":..}.
void message_key_to_json(const MessageKey& key, std::string& out);
template <class Out>
void write_message_key(const MessageKey& key, Out& out) {
    out += "{\"time_ms\":";
    write_json_u64(key.time_ms, out);
    out += ",\"seq\":";
    write_json_u64(key.seq, out);
    out += '}';
}

std::string_view sasl_failure_word(SaslFailure reason);
std::string_view reply_severity_word(ReplySeverity severity);

}  // namespace tessel
