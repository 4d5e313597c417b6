// Strategy: the first pass (JsonReader::read_tagged) finds the "type" word and keeps every
// other value whole; the second pass reads the chosen variant's fields from what was kept.
// Each variant's fields come as (name, member) pairs in declared order; whether a field is
// required and how it is read follow from the member's type.
#include "tessel_client/formats/command_json.hpp"

#include <array>
#include <limits>
#include <tuple>
#include <utility>

#include "tessel_client/engine/command_fields.hpp"
#include "tessel_client/formats/kept_record.hpp"

namespace tessel {
namespace {

// As error texts name each variant.
constexpr std::array<std::string_view, kCommandVariants> kVariantNames = {
    "Join", "Part", "SendMessage", "SendNotice", "SendAction", "SetNick", "SetTopic", "SetAway", "SetTyping",
    "AddReaction", "RemoveReaction", "RedactMessage", "MarkRead", "FetchHistory", "SetMetadata",
    "SubscribeMetadata", "Whois", "RenameChannel", "CreateInviteLink", "ListInviteLinks", "DeleteInviteLink",
    "RedeemInviteCode", "GenerateToken", "WatchNicks", "UnwatchNicks", "SendVoiceSignal", "Quit",
    "SendRawLine",
};

// ---- field values ----------------------------------------------------------------------------

bool read_field(JsonContent& v, std::string& out, std::string& e) { return read_content_string(v, out, e); }
bool read_field(JsonContent& v, std::optional<std::string>& out, std::string& e) {
    return read_content_optional_string(v, out, e);
}
bool read_field(JsonContent& v, std::vector<std::string>& out, std::string& e) {
    return read_content_strings(v, out, e);
}
bool read_field(JsonContent& v, std::uint16_t& out, std::string& e) {
    std::uint64_t n = 0;
    if (!read_content_unsigned(v, std::numeric_limits<std::uint16_t>::max(), "u16", n, e)) return false;
    out = static_cast<std::uint16_t>(n);
    return true;
}
bool read_field(JsonContent& v, std::uint64_t& out, std::string& e) {
    return read_content_unsigned(v, std::numeric_limits<std::uint64_t>::max(), "u64", out, e);
}
bool read_field(JsonContent& v, TypingState& out, std::string& e) {
    std::size_t index = 0;
    if (!read_content_word(v, kTypingWords, index, e)) return false;
    out = static_cast<TypingState>(index);
    return true;
}
// Here the signal's "type" may also be a variant index, and its errors carry no position.
bool read_field(JsonContent& v, Signal& out, std::string& e) { return Signal::deserialize(v, out, e); }

// ---- variants ---------------------------------------------------------------------------------

// "struct variant Command::Join with 2 elements": what an array that ends early lacked.
std::string too_few_text(std::string_view name, std::size_t count) {
    std::string out = "struct variant Command::";
    out += name;
    out += " with ";
    out += std::to_string(count);
    out += count == 1 ? " element" : " elements";
    return out;
}

template <class... T>
bool read_fields(JsonContent& kept, std::string_view name, const std::tuple<CommandField<T>...>& members,
                 std::string& error) {
    const std::array<KeptField, sizeof...(T)> table = std::apply(
        [](const auto&... f) { return std::array<KeptField, sizeof...(T)>{KeptField{f.name, !kOptionalField<T>}...}; },
        members);
    // Only an array that ends early names the variant's length, so the text is built then.
    std::string too_few;
    if (const auto* items = std::get_if<JsonContent::Array>(&kept.value); items && items->size() < table.size())
        too_few = too_few_text(name, table.size());
    auto read_one = [&](std::size_t i, JsonContent& value, std::string& e) {
        return std::apply(
            [&](auto&... f) {
                std::size_t at = 0;
                bool ok = false;
                static_cast<void>(((at++ == i && (ok = read_field(value, f.member, e), true)) || ...));
                return ok;
            },
            members);
    };
    return read_kept_fields(kept, table, too_few, read_one, error);
}

template <std::size_t I>
bool read_variant(JsonContent& kept, Command& out, std::string& error) {
    auto& variant = out.value.emplace<I>();
    return read_fields(kept, kVariantNames[I], command_fields(variant), error);
}

using ReadVariant = bool (*)(JsonContent&, Command&, std::string&);
constexpr auto kReadVariant = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array<ReadVariant, sizeof...(I)>{&read_variant<I>...};
}(std::make_index_sequence<kCommandVariants>{});

bool read_command(JsonReader& reader, Command& out) {
    TaggedContent tagged;
    if (!reader.read_tagged("internally tagged enum Command", "type", kCommandWords, tagged)) return false;
    std::string error;
    if (!kReadVariant[tagged.variant](tagged.kept, out, error)) return reader.fail_unpositioned(std::move(error));
    return true;
}

}  // namespace

JsonResult<Command> command_from_json(std::string_view text) { return read_whole_text<Command>(text, read_command); }

}  // namespace tessel
