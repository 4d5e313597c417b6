// The bot tags: base64 of a JSON value, read into an announcement and a command list. The
// input's first byte picks whether the rest is the tag value itself or JSON to be encoded
// first (so the fuzzer reaches the JSON without having to find valid base64). Every value
// read writes back as text that reads as the same value.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "tessel_client/engine/base64.hpp"
#include "tessel_client/engine/bot_data.hpp"
#include "tessel_client/protocol/json_value.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string tag = (data[0] & 1) ? base64_encode(rest) : std::string(rest);
    auto value = decode_json_tag(tag);
    if (!value) return 0;

    std::string written;
    value->write(written);
    const auto back = parse_json_text(written);
    FUZZ_CHECK(back);
    FUZZ_CHECK(*back == *value);

    JsonValue copy = *value;
    collect_bot_commands(std::move(copy));
    if (auto announcement = read_bot_announcement(std::move(*value))) {
        BotRegistry bots;
        apply_bot_announcement(bots, announcement->nick, std::move(*announcement));
    }
    return 0;
}
