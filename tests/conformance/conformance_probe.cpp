// Reads one case per line from stdin, "line <hex>" or "source <hex>" (the bytes in hex,
// so any byte can be given), and prints one compact JSON value per case:
//   line:   null when the line does not parse, else
//           {"tags":[[key,value|null],...],"source":text|null,"command":...,"params":[...]}
//           (the source written back with Source::write)
//   source: {"name":...,"user":...|null,"host":...|null}
// A line is decoded the way the receive path decodes it (lossy UTF-8) before parsing.
#include <iostream>
#include <optional>
#include <string>

#include "tessel_client/protocol/json_value.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace {

using tessel::JsonValue;

std::optional<std::string> from_hex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const std::string pair(hex.substr(i, 2));
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
        out.push_back(static_cast<char>(std::stoi(pair, nullptr, 16)));
    }
    return out;
}

JsonValue optional_text(const std::optional<std::string>& s) { return s ? JsonValue(*s) : JsonValue(); }

JsonValue describe_source(const tessel::Source& source) {
    return JsonValue(JsonValue::Object{
        {"name", JsonValue(source.name)}, {"user", optional_text(source.user)}, {"host", optional_text(source.host)}});
}

JsonValue describe_line(std::string_view line) {
    const auto msg = tessel::parse_line(tessel::utf8_lossy(line));
    if (!msg) return JsonValue();
    JsonValue::Array tags;
    for (const tessel::Tag& tag : msg->tags) {
        tags.emplace_back(JsonValue::Array{JsonValue(tag.key), optional_text(tag.value)});
    }
    JsonValue source;
    if (msg->source) {
        std::string text;
        msg->source->write(text);
        source = JsonValue(std::move(text));
    }
    JsonValue::Array params;
    for (const std::string& p : msg->params) params.emplace_back(p);
    return JsonValue(JsonValue::Object{{"tags", JsonValue(std::move(tags))},
                                       {"source", std::move(source)},
                                       {"command", JsonValue(msg->command)},
                                       {"params", JsonValue(std::move(params))}});
}

}  // namespace

int main() {
    std::string input;
    while (std::getline(std::cin, input)) {
        const std::size_t space = input.find(' ');
        const std::string kind = input.substr(0, space);
        const auto bytes = from_hex(space == std::string::npos ? "" : std::string_view(input).substr(space + 1));
        if (!bytes || (kind != "line" && kind != "source")) {
            std::cerr << "conformance_probe: bad request: " << input << "\n";
            return 2;
        }
        std::string out;
        (kind == "line" ? describe_line(*bytes) : describe_source(tessel::split_source(*bytes))).write(out);
        std::cout << out << "\n";
    }
    return 0;
}
