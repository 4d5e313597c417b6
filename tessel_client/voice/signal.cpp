#include "tessel_client/voice/signal.hpp"

#include <array>
#include <limits>
#include <span>

#include "tessel_client/formats/kept_record.hpp"
#include "tessel_client/voice/signal_json.hpp"

namespace tessel {
namespace {

constexpr std::array<std::string_view, kSignalVariants> kSignalWords = {
    "join", "leave", "joined", "offer",    "answer", "ice",     "presence", "mic",  "video", "screen",
    "hand", "deaf",  "speaking", "silent", "react",  "promote", "demote",   "role", "error"};

constexpr std::array<std::string_view, 2> kRoleWords = {"publisher", "viewer"};
constexpr std::array<std::string_view, 2> kModeWords = {"publish", "stream"};
constexpr std::array<std::string_view, 4> kKindWords = {"mic", "video", "screen", "hand"};
constexpr std::array<std::string_view, 8> kPresenceWords = {"joined",   "left",   "on",      "off",
                                                            "speaking", "silent", "deaf_on", "deaf_off"};
constexpr std::array<std::string_view, 2> kToggleWords = {"on", "off"};

template <class Enum, std::size_t N>
bool read_word(JsonContent& value, const std::array<std::string_view, N>& words, Enum& out, std::string& error) {
    std::size_t index = 0;
    if (!read_content_word(value, words, index, error)) return false;
    out = static_cast<Enum>(index);
    return true;
}

}  // namespace

std::string_view host_word(VoiceRole v) { return kRoleWords[static_cast<std::size_t>(v)]; }
std::string_view host_word(VoiceMode v) { return kModeWords[static_cast<std::size_t>(v)]; }
std::string_view host_word(MediaKind v) { return kKindWords[static_cast<std::size_t>(v)]; }
std::string_view host_word(PresenceState v) { return kPresenceWords[static_cast<std::size_t>(v)]; }
std::string_view host_word(ToggleState v) { return kToggleWords[static_cast<std::size_t>(v)]; }

std::string_view signal_type_word(std::size_t index) { return kSignalWords[index]; }
std::span<const std::string_view> signal_type_words() { return kSignalWords; }

// ---- writing -----------------------------------------------------------------------------

void signal_to_json(const Signal& signal, std::string& out) { write_signal(signal, out); }
void write_voice_mode(const std::optional<VoiceMode>& v, std::string& out) { write_voice_mode_to(v, out); }
void write_voice_role(const std::optional<VoiceRole>& v, std::string& out) { write_voice_role_to(v, out); }
void write_streamers(const std::optional<std::vector<std::string>>& v, std::string& out) { write_streamers_to(v, out); }
void write_turn(const std::optional<TurnCredentials>& v, std::string& out) { write_turn_to(v, out); }
void write_tracks(const std::optional<std::vector<TrackHint>>& v, std::string& out) { write_tracks_to(v, out); }
void write_chunk(const std::optional<ChunkMeta>& v, std::string& out) { write_chunk_to(v, out); }
void write_toggle_state(ToggleState v, std::string& out) { write_toggle_state_to(v, out); }

// ---- reading -----------------------------------------------------------------------------

bool deserialize(JsonContent& value, VoiceRole& out, std::string& error) {
    return read_word(value, kRoleWords, out, error);
}
bool deserialize(JsonContent& value, VoiceMode& out, std::string& error) {
    return read_word(value, kModeWords, out, error);
}
bool deserialize(JsonContent& value, MediaKind& out, std::string& error) {
    return read_word(value, kKindWords, out, error);
}
bool deserialize(JsonContent& value, PresenceState& out, std::string& error) {
    return read_word(value, kPresenceWords, out, error);
}
bool deserialize(JsonContent& value, ToggleState& out, std::string& error) {
    return read_word(value, kToggleWords, out, error);
}

bool TrackHint::deserialize(JsonContent& value, TrackHint& out, std::string& error) {
    static constexpr std::array<KeptField, 2> kFields = {{{"mid", true}, {"member", true}}};
    std::string* slots[] = {&out.mid, &out.member};
    return read_kept_record(
        value, "struct TrackHint", kFields, "struct TrackHint with 2 elements",
        [&](std::size_t i, JsonContent& v, std::string& e) { return read_content_string(v, *slots[i], e); }, error);
}

bool TurnCredentials::deserialize(JsonContent& value, TurnCredentials& out, std::string& error) {
    static constexpr std::array<KeptField, 3> kFields = {{{"urls", true}, {"username", true}, {"password", true}}};
    return read_kept_record(
        value, "struct TurnCredentials", kFields, "struct TurnCredentials with 3 elements",
        [&](std::size_t i, JsonContent& v, std::string& e) {
            if (i == 0) return read_content_strings(v, out.urls, e);
            return read_content_string(v, i == 1 ? out.username : out.password, e);
        },
        error);
}

bool ChunkMeta::deserialize(JsonContent& value, ChunkMeta& out, std::string& error) {
    static constexpr std::array<KeptField, 3> kFields = {{{"id", true}, {"seq", true}, {"total", true}}};
    return read_kept_record(
        value, "struct ChunkMeta", kFields, "struct ChunkMeta with 3 elements",
        [&](std::size_t i, JsonContent& v, std::string& e) {
            if (i == 0) return read_content_string(v, out.id, e);
            std::uint64_t n = 0;
            if (!read_content_unsigned(v, std::numeric_limits<std::uint32_t>::max(), "u32", n, e)) return false;
            (i == 1 ? out.seq : out.total) = static_cast<std::uint32_t>(n);
            return true;
        },
        error);
}

bool deserialize_tracks(JsonContent& value, std::vector<TrackHint>& out, std::string& error) {
    auto* items = std::get_if<JsonContent::Array>(&value.value);
    if (items == nullptr) {
        error = invalid_type(describe(value), "a sequence");
        return false;
    }
    out.clear();
    out.reserve(items->size());
    for (auto& item : *items) {
        out.emplace_back();
        if (!TrackHint::deserialize(item, out.back(), error)) return false;
    }
    return true;
}

}  // namespace tessel
