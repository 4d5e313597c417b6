// Command JSON, the `command` argument: whatever is read is executed on a registered engine
// that has every capability the commands use, and each line it queues stays one line; a
// command it refuses leaves no trace.
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/json_output.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/formats/command_json.hpp"
#include "tessel_client/formats/event_json.hpp"
#include "tessel_client/formats/model_json.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {
namespace {

Engine registered_engine() {
    Config config;
    config.nick = "me";
    config.retention = 4;
    Engine engine(std::move(config));
    engine.handle_connected();
    engine.handle_bytes(
        ":srv CAP * LS :message-tags labeled-response batch server-time draft/chathistory draft/read-marker "
        "draft/typing draft/message-redaction draft/channel-rename draft/metadata-2 monitor vantaweb/voice\r\n"
        ":srv CAP * ACK :message-tags labeled-response batch server-time draft/chathistory draft/read-marker "
        "draft/typing draft/message-redaction draft/channel-rename draft/metadata-2 monitor vantaweb/voice\r\n"
        ":srv 001 me :welcome\r\n:srv 005 me MONITOR=100 :are supported\r\n:me!u@h JOIN #a\r\n");
    while (engine.poll_transmit()) {
    }
    engine.poll_events();
    return engine;
}

}  // namespace
}  // namespace tessel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The binding hands over text from Python strings, which is always valid UTF-8.
    if (!utf8_valid(text)) return 0;
    auto command = command_from_json(text);
    if (!command) {
        FUZZ_CHECK(!command.error().message.empty());
        return 0;
    }
    static const Engine prepared = registered_engine();
    Engine engine = prepared;
    if (engine.execute(std::move(command.value()))) {
        // A refused command leaves no trace.
        FUZZ_CHECK(!engine.poll_transmit());
        FUZZ_CHECK(engine.poll_events().empty());
        FUZZ_CHECK(engine.label_counter == prepared.label_counter);
        FUZZ_CHECK(engine.model == prepared.model);
        return 0;
    }
    while (const auto line = engine.poll_transmit()) {
        FUZZ_CHECK(line->ends_with("\r\n"));
        FUZZ_CHECK(line->find_first_of(std::string_view("\r\n\0", 3)) == line->size() - 2);
    }
    fuzz::check_json_output(events_to_json(engine.poll_events()));
    fuzz::check_json_output(model_to_json(engine.model));
    return 0;
}
