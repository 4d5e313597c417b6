#include "tessel_client/formats/config_json.hpp"

#include <array>
#include <limits>

#include "tessel_client/formats/kept_record.hpp"

namespace tessel {
namespace {

constexpr std::array<std::string_view, 3> kMechanisms = {"plain", "external", "scram"};
constexpr std::array<KeptField, 2> kPlainFields = {{{"username", true}, {"password", true}}};
constexpr std::array<KeptField, 3> kScramFields = {{{"username", true}, {"password", true}, {"nonce", true}}};

constexpr std::array<std::string_view, 7> kConfigKeys = {"nick",      "username",  "realname", "password",
                                                         "sasl",      "retention", "alt_nicks"};

bool read_credentials_variant(std::size_t variant, JsonContent& kept, Credentials& out, std::string& error) {
    switch (variant) {
        case 0: {
            auto& plain = out.value.emplace<Credentials::Plain>();
            std::string* slots[] = {&plain.username, &plain.password};
            return read_kept_fields(
                kept, kPlainFields, "struct variant Credentials::Plain with 2 elements",
                [&](std::size_t i, JsonContent& v, std::string& e) { return read_content_string(v, *slots[i], e); },
                error);
        }
        case 1:
            out.value.emplace<Credentials::External>();
            return read_kept_fields(
                kept, std::span<const KeptField>{}, "",
                [](std::size_t, JsonContent&, std::string&) { return true; }, error);
        default: {
            auto& scram = out.value.emplace<Credentials::Scram>();
            std::string* slots[] = {&scram.username, &scram.password, &scram.nonce};
            return read_kept_fields(
                kept, kScramFields, "struct variant Credentials::Scram with 3 elements",
                [&](std::size_t i, JsonContent& v, std::string& e) { return read_content_string(v, *slots[i], e); },
                error);
        }
    }
}

// One field of the configuration, by its index in kConfigKeys.
bool read_config_field(JsonReader& r, std::size_t field, Config& out) {
    switch (field) {
        case 0: return r.read_text(out.nick);
        case 1: return r.read_text(out.username);
        case 2: return r.read_text(out.realname);
        case 3: return r.read_optional_text(out.password);
        case 4: {
            bool was_null = false;
            if (!r.take_null(was_null)) return false;
            if (was_null) {
                out.sasl.reset();
                return true;
            }
            Credentials c;
            if (!credentials_from_json(r, c)) return false;
            out.sasl = std::move(c);
            return true;
        }
        case 5: return r.read_unsigned(std::numeric_limits<std::uint64_t>::max(), "usize", out.retention);
        default: return r.read_text_list(out.alt_nicks);
    }
}

bool read_config_object(JsonReader& r, Config& out) {
    if (!r.open()) return false;
    bool seen[kConfigKeys.size()] = {};
    bool first = true;
    for (;;) {
        const JsonReader::Step s = r.next_member(first);
        if (s == JsonReader::Step::Failed) return false;
        if (s == JsonReader::Step::End) break;
        std::string_view key;
        if (!r.read_string(key)) return false;
        std::size_t field = 0;
        while (field < kConfigKeys.size() && kConfigKeys[field] != key) ++field;
        if (field < kConfigKeys.size()) {
            if (seen[field]) return r.fail_unpositioned(duplicate_field(kConfigKeys[field]));
            seen[field] = true;
        }
        if (!r.expect_colon()) return false;
        // Values of unknown keys are only checked for grammar, at any depth.
        if (!(field < kConfigKeys.size() ? read_config_field(r, field, out) : r.skip_value())) return false;
    }
    r.close();
    return true;
}

bool read_config_array(JsonReader& r, Config& out) {
    if (!r.open()) return false;
    bool first = true;
    for (std::size_t field = 0; field < kConfigKeys.size(); ++field) {
        const JsonReader::Step s = r.next_element(first);
        if (s == JsonReader::Step::Failed) return false;
        if (s == JsonReader::Step::End) {
            r.close();
            return true;
        }
        if (!read_config_field(r, field, out)) return false;
    }
    // Every field is read: the array must close now.
    int c = r.peek_ws();
    if (c == ']') {
        r.close();
        return true;
    }
    if (c < 0) return r.fail_peek("EOF while parsing a list");
    if (c == ',') {
        ++r.index;
        c = r.peek_ws();
        if (c == ']') return r.fail_peek("trailing comma");
    }
    return r.fail_peek("trailing characters");
}

bool read_config(JsonReader& r, Config& out) {
    const int c = r.peek_ws();
    if (c == '{' || c == '[') {
        if (c == '{' ? read_config_object(r, out) : read_config_array(r, out)) return true;
        r.give_up(c == '{' ? '}' : ']');
        return false;
    }
    return r.fail_invalid_type("struct Config");
}

}  // namespace

bool credentials_from_json(JsonReader& reader, Credentials& out) {
    TaggedContent tagged;
    if (!reader.read_tagged("internally tagged enum Credentials", "mechanism", kMechanisms, tagged)) return false;
    std::string error;
    if (!read_credentials_variant(tagged.variant, tagged.kept, out, error))
        return reader.fail_unpositioned(std::move(error));
    return true;
}

JsonResult<Credentials> credentials_from_json(std::string_view text) {
    return read_whole_text<Credentials>(text, [](JsonReader& r, Credentials& out) {
        return credentials_from_json(r, out);
    });
}

JsonResult<Config> config_from_json(std::string_view text) {
    return read_whole_text<Config>(text, read_config);
}

}  // namespace tessel
