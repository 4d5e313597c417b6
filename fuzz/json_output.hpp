// What the engine writes for the host (events, the model) must be JSON that the host's json
// module reads: valid UTF-8, one value, nothing after it.
#pragma once

#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "tessel_client/formats/json_reader.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel::fuzz {

inline void check_json_output(std::string_view text) {
    FUZZ_CHECK(utf8_valid(text));
    JsonReader reader(text);
    reader.depth_budget = 255;  // the host reads deeper documents than it accepts from itself
    JsonContent content;
    FUZZ_CHECK(reader.read_content(content) && reader.finish());
}

}  // namespace tessel::fuzz
