// Strategy: both roads first split the frame into its variant and the content kept beside
// the tag (the text road with the JsonReader's tagged-union pass, the command road over the
// buffered value); the same variant readers then fill the fields from that content. Field
// errors are plain messages, so the text road reports them without a position.
#include "tessel_client/voice/signal_reader.hpp"

#include <array>
#include <limits>
#include <optional>
#include <utility>

#include "tessel_client/formats/kept_record.hpp"

namespace tessel {
namespace {

constexpr std::string_view kExpecting = "internally tagged enum Signal";

// What an array form with too few elements expected, by variant; unit variants have none.
constexpr std::array<std::string_view, kSignalVariants> kTooFew = {
    "struct variant Signal::Join with 1 element",
    "struct variant Signal::Leave with 1 element",
    "struct variant Signal::Joined with 6 elements",
    "struct variant Signal::Offer with 3 elements",
    "struct variant Signal::Answer with 2 elements",
    "struct variant Signal::Ice with 3 elements",
    "struct variant Signal::Presence with 4 elements",
    "struct variant Signal::Mic with 1 element",
    "struct variant Signal::Video with 1 element",
    "struct variant Signal::Screen with 1 element",
    "struct variant Signal::Hand with 1 element",
    "struct variant Signal::Deaf with 1 element",
    "",
    "",
    "struct variant Signal::React with 2 elements",
    "struct variant Signal::Promote with 1 element",
    "struct variant Signal::Demote with 1 element",
    "struct variant Signal::Role with 2 elements",
    "struct variant Signal::Error with 1 element",
};

template <class T, class V>
struct IndexOf;
template <class T, class... Ts>
struct IndexOf<T, std::variant<Ts...>> {
    static constexpr std::size_t value = [] {
        constexpr bool matches[] = {std::is_same_v<T, Ts>...};
        std::size_t i = 0;
        while (!matches[i]) ++i;
        return i;
    }();
};
template <class T>
constexpr std::size_t kIndexOf = IndexOf<T, decltype(Signal::value)>::value;

// ---- field values ------------------------------------------------------------------------

bool read_word(JsonContent& v, auto& out, std::string& e) { return deserialize(v, out, e); }

bool read_u32(JsonContent& v, std::uint32_t& out, std::string& e) {
    std::uint64_t n = 0;
    if (!read_content_unsigned(v, std::numeric_limits<std::uint32_t>::max(), "u32", n, e)) return false;
    out = static_cast<std::uint32_t>(n);
    return true;
}

// Null is absent; anything else goes to `read`.
template <class T, class Read>
bool read_optional(JsonContent& v, std::optional<T>& out, std::string& e, Read&& read) {
    if (v.is_null()) {
        out.reset();
        return true;
    }
    T value{};
    if (!read(v, value, e)) return false;
    out = std::move(value);
    return true;
}

bool read_optional_word(JsonContent& v, auto& out, std::string& e) {
    return read_optional(v, out, e, [](JsonContent& w, auto& o, std::string& m) { return read_word(w, o, m); });
}

// ---- variant readers ---------------------------------------------------------------------
// Each fills variant T of `out` from the kept content; `field(s, i, value, error)` reads
// field i of the declared order.

template <class T, std::size_t N, class Field>
bool read_fields(JsonContent& kept, Signal& out, const std::array<KeptField, N>& fields, Field&& field,
                 std::string& error) {
    auto& s = out.value.emplace<T>();
    return read_kept_fields(
        kept, fields, kTooFew[kIndexOf<T>],
        [&](std::size_t i, JsonContent& v, std::string& e) { return field(s, i, v, e); }, error);
}

template <class T>
bool read_signal_channel(JsonContent& kept, Signal& out, std::string& error) {  // join, leave
    static constexpr std::array<KeptField, 1> kFields = {{{"channel", true}}};
    return read_fields<T>(
        kept, out, kFields, [](T& s, std::size_t, JsonContent& v, std::string& e) { return read_content_string(v, s.channel, e); },
        error);
}

bool read_signal_joined(JsonContent& kept, Signal& out, std::string& error) {
    static constexpr std::array<KeptField, 6> kFields = {
        {{"members", true}, {"mode", false}, {"role", false}, {"streamers", false}, {"turn", false}, {"tracks", false}}};
    return read_fields<Signal::Joined>(
        kept, out, kFields,
        [](Signal::Joined& s, std::size_t i, JsonContent& v, std::string& e) {
            switch (i) {
                case 0: return read_content_strings(v, s.members, e);
                case 1: return read_optional_word(v, s.mode, e);
                case 2: return read_optional_word(v, s.role, e);
                case 3: return read_optional(v, s.streamers, e, read_content_strings);
                case 4: return read_optional(v, s.turn, e, TurnCredentials::deserialize);
                default: return read_optional(v, s.tracks, e, deserialize_tracks);
            }
        },
        error);
}

bool read_signal_offer(JsonContent& kept, Signal& out, std::string& error) {
    static constexpr std::array<KeptField, 3> kFields = {{{"sdp", true}, {"tracks", false}, {"chunk", false}}};
    return read_fields<Signal::Offer>(
        kept, out, kFields,
        [](Signal::Offer& s, std::size_t i, JsonContent& v, std::string& e) {
            switch (i) {
                case 0: return read_content_string(v, s.sdp, e);
                case 1: return read_optional(v, s.tracks, e, deserialize_tracks);
                default: return read_optional(v, s.chunk, e, ChunkMeta::deserialize);
            }
        },
        error);
}

bool read_signal_answer(JsonContent& kept, Signal& out, std::string& error) {
    static constexpr std::array<KeptField, 2> kFields = {{{"sdp", true}, {"chunk", false}}};
    return read_fields<Signal::Answer>(
        kept, out, kFields,
        [](Signal::Answer& s, std::size_t i, JsonContent& v, std::string& e) {
            if (i == 0) return read_content_string(v, s.sdp, e);
            return read_optional(v, s.chunk, e, ChunkMeta::deserialize);
        },
        error);
}

bool read_signal_ice(JsonContent& kept, Signal& out, std::string& error) {
    static constexpr std::array<KeptField, 3> kFields = {{{"cand", true}, {"mid", false}, {"mlineidx", false}}};
    return read_fields<Signal::Ice>(
        kept, out, kFields,
        [](Signal::Ice& s, std::size_t i, JsonContent& v, std::string& e) {
            switch (i) {
                case 0: return read_content_string(v, s.cand, e);
                case 1: return read_content_optional_string(v, s.mid, e);
                default: return read_optional(v, s.mlineidx, e, read_u32);
            }
        },
        error);
}

bool read_signal_presence(JsonContent& kept, Signal& out, std::string& error) {
    static constexpr std::array<KeptField, 4> kFields = {
        {{"member", true}, {"state", true}, {"kind", false}, {"role", false}}};
    return read_fields<Signal::Presence>(
        kept, out, kFields,
        [](Signal::Presence& s, std::size_t i, JsonContent& v, std::string& e) {
            switch (i) {
                case 0: return read_content_string(v, s.member, e);
                case 1: return read_word(v, s.state, e);
                case 2: return read_optional_word(v, s.kind, e);
                default: return read_optional_word(v, s.role, e);
            }
        },
        error);
}

template <class T>
bool read_signal_toggle(JsonContent& kept, Signal& out, std::string& error) {  // mic ... deaf
    static constexpr std::array<KeptField, 1> kFields = {{{"state", true}}};
    return read_fields<T>(
        kept, out, kFields, [](T& s, std::size_t, JsonContent& v, std::string& e) { return read_word(v, s.state, e); },
        error);
}

// Speaking and silent: an object's other entries are ignored; an array takes the tag alone.
template <class T>
bool read_signal_unit(JsonContent& kept, Signal& out, std::string& error) {
    return read_fields<T>(
        kept, out, std::array<KeptField, 0>{}, [](T&, std::size_t, JsonContent&, std::string&) { return true; },
        error);
}

bool read_signal_react(JsonContent& kept, Signal& out, std::string& error) {
    static constexpr std::array<KeptField, 2> kFields = {{{"member", false}, {"emoji", true}}};
    return read_fields<Signal::React>(
        kept, out, kFields,
        [](Signal::React& s, std::size_t i, JsonContent& v, std::string& e) {
            if (i == 0) return read_content_optional_string(v, s.member, e);
            return read_content_string(v, s.emoji, e);
        },
        error);
}

template <class T>
bool read_signal_target(JsonContent& kept, Signal& out, std::string& error) {  // promote, demote
    static constexpr std::array<KeptField, 1> kFields = {{{"target", true}}};
    return read_fields<T>(
        kept, out, kFields, [](T& s, std::size_t, JsonContent& v, std::string& e) { return read_content_string(v, s.target, e); },
        error);
}

bool read_signal_role(JsonContent& kept, Signal& out, std::string& error) {
    static constexpr std::array<KeptField, 2> kFields = {{{"member", true}, {"role", true}}};
    return read_fields<Signal::Role>(
        kept, out, kFields,
        [](Signal::Role& s, std::size_t i, JsonContent& v, std::string& e) {
            if (i == 0) return read_content_string(v, s.member, e);
            return read_word(v, s.role, e);
        },
        error);
}

bool read_signal_error(JsonContent& kept, Signal& out, std::string& error) {
    static constexpr std::array<KeptField, 1> kFields = {{{"error", false}}};
    return read_fields<Signal::Error>(
        kept, out, kFields,
        [](Signal::Error& s, std::size_t, JsonContent& v, std::string& e) { return read_content_optional_string(v, s.error, e); },
        error);
}

using VariantReader = bool (*)(JsonContent&, Signal&, std::string&);

// By variant index, in the order of the "type" words.
constexpr std::array<VariantReader, kSignalVariants> kVariantReaders = {
    read_signal_channel<Signal::Join>,  read_signal_channel<Signal::Leave>, read_signal_joined,
    read_signal_offer,                  read_signal_answer,                read_signal_ice,
    read_signal_presence,               read_signal_toggle<Signal::Mic>,   read_signal_toggle<Signal::Video>,
    read_signal_toggle<Signal::Screen>, read_signal_toggle<Signal::Hand>,  read_signal_toggle<Signal::Deaf>,
    read_signal_unit<Signal::Speaking>, read_signal_unit<Signal::Silent>,  read_signal_react,
    read_signal_target<Signal::Promote>, read_signal_target<Signal::Demote>, read_signal_role,
    read_signal_error,
};
static_assert(kVariantReaders.size() == std::variant_size_v<decltype(Signal::value)>);

// Reads into a fresh Signal, so a failed read leaves `out` as it was.
bool read_variant(std::size_t variant, JsonContent& kept, Signal& out, std::string& error) {
    Signal s;
    if (!kVariantReaders[variant](kept, s, error)) return false;
    out = std::move(s);
    return true;
}

}  // namespace

JsonResult<Signal> signal_from_json(std::string_view text) {
    return read_whole_text<Signal>(text, [](JsonReader& r, Signal& out) {
        TaggedContent tagged;
        if (!r.read_tagged(kExpecting, "type", signal_type_words(), tagged)) return false;
        std::string error;
        if (!read_variant(tagged.variant, tagged.kept, out, error)) return r.fail_unpositioned(std::move(error));
        return true;
    });
}

bool Signal::deserialize(JsonContent& value, Signal& out, std::string& error) {
    std::size_t variant = 0;
    JsonContent kept;
    if (!split_tagged_content(value, kExpecting, "type", signal_type_words(), true, variant, kept, error))
        return false;
    return read_variant(variant, kept, out, error);
}

}  // namespace tessel
