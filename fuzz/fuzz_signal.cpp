// Voice frames in both forms: the host's JSON (send_voice_signal) and the wire form read from
// a received "+vantaweb/rtc" tag value; the input's first byte picks which. A frame read in
// either form is written in both and reads back as the same frame.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "tessel_client/protocol/utf8.hpp"
#include "tessel_client/voice/signal.hpp"
#include "tessel_client/voice/signal_reader.hpp"
#include "tessel_client/voice/signal_wire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    // The binding hands over text from Python strings, which is always valid UTF-8.
    if (!utf8_valid(text)) return 0;
    std::optional<Signal> signal;
    if (data[0] & 1) {
        signal = signal_from_wire(text);
    } else if (auto read = signal_from_json(text)) {
        signal = std::move(read.value());
    } else {
        FUZZ_CHECK(!read.error().message.empty());
    }
    if (!signal) return 0;

    std::string host;
    signal_to_json(*signal, host);
    const auto from_host = signal_from_json(host);
    FUZZ_CHECK(from_host);
    FUZZ_CHECK(from_host.value() == *signal);

    const auto from_wire = signal_from_wire(signal_to_wire(*signal));
    FUZZ_CHECK(from_wire);
    FUZZ_CHECK(*from_wire == *signal);
    return 0;
}
