// The host's configuration document (from_config) and the credentials of the `sasl` argument.
// The input's first byte picks the reader; a refusal must say why.
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/formats/config_json.hpp"
#include "tessel_client/protocol/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The binding hands over text from Python strings, which is always valid UTF-8.
    if (!utf8_valid(text)) return 0;
    if (data[0] & 1) {
        const auto credentials = credentials_from_json(text);
        if (!credentials) FUZZ_CHECK(!credentials.error().message.empty());
        return 0;
    }
    auto config = config_from_json(text);
    if (!config) {
        FUZZ_CHECK(!config.error().message.empty());
        return 0;
    }
    // Whatever is read is a configuration an engine starts from.
    Engine engine(std::move(config.value()));
    engine.handle_connected();
    while (const auto line = engine.poll_transmit()) FUZZ_CHECK(line->find_first_of(std::string_view("\r\n\0", 3)) == line->size() - 2);
    return 0;
}
