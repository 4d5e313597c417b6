// The voice-signalling frame, its parts and word enums, and its host JSON form.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tessel {

struct JsonContent;  // formats/json_content.hpp: a buffered JSON value

enum class VoiceRole : std::uint8_t { Publisher = 0, Viewer = 1 };
enum class VoiceMode : std::uint8_t { Publish = 0, Stream = 1 };
enum class MediaKind : std::uint8_t { Mic = 0, Video = 1, Screen = 2, Hand = 3 };
enum class PresenceState : std::uint8_t {
    Joined = 0,
    Left = 1,
    On = 2,
    Off = 3,
    Speaking = 4,
    Silent = 5,
    DeafOn = 6,
    DeafOff = 7,
};
enum class ToggleState : std::uint8_t { On = 0, Off = 1 };

// Host words ("publisher", "deaf_on", ...).
std::string_view host_word(VoiceRole v);
std::string_view host_word(VoiceMode v);
std::string_view host_word(MediaKind v);
std::string_view host_word(PresenceState v);
std::string_view host_word(ToggleState v);

// Word readers over a buffered value: a string, or an object with one key whose value is
// null or {}. On failure they return false and set `error`; the value is consumed.
bool deserialize(JsonContent& value, VoiceRole& out, std::string& error);
bool deserialize(JsonContent& value, VoiceMode& out, std::string& error);
bool deserialize(JsonContent& value, MediaKind& out, std::string& error);
bool deserialize(JsonContent& value, PresenceState& out, std::string& error);
bool deserialize(JsonContent& value, ToggleState& out, std::string& error);

struct TrackHint {
    std::string mid;
    std::string member;

    static bool deserialize(JsonContent& value, TrackHint& out, std::string& error);
    bool operator==(const TrackHint&) const = default;
};

struct TurnCredentials {
    std::vector<std::string> urls;
    std::string username;
    std::string password;

    static bool deserialize(JsonContent& value, TurnCredentials& out, std::string& error);
    bool operator==(const TurnCredentials&) const = default;
};

struct ChunkMeta {
    std::string id;
    std::uint32_t seq = 0;
    std::uint32_t total = 0;

    static bool deserialize(JsonContent& value, ChunkMeta& out, std::string& error);
    bool operator==(const ChunkMeta&) const = default;
};

// A "tracks" value: an array of TrackHint.
bool deserialize_tracks(JsonContent& value, std::vector<TrackHint>& out, std::string& error);

struct Signal {
    struct Join {
        std::string channel;
        bool operator==(const Join&) const = default;
    };
    struct Leave {
        std::string channel;
        bool operator==(const Leave&) const = default;
    };
    struct Joined {
        std::vector<std::string> members;
        std::optional<VoiceMode> mode;
        std::optional<VoiceRole> role;
        std::optional<std::vector<std::string>> streamers;
        std::optional<TurnCredentials> turn;
        std::optional<std::vector<TrackHint>> tracks;
        bool operator==(const Joined&) const = default;
    };
    struct Offer {
        std::string sdp;
        std::optional<std::vector<TrackHint>> tracks;
        std::optional<ChunkMeta> chunk;
        bool operator==(const Offer&) const = default;
    };
    struct Answer {
        std::string sdp;
        std::optional<ChunkMeta> chunk;
        bool operator==(const Answer&) const = default;
    };
    struct Ice {
        std::string cand;
        std::optional<std::string> mid;
        std::optional<std::uint32_t> mlineidx;
        bool operator==(const Ice&) const = default;
    };
    struct Presence {
        std::string member;
        PresenceState state = PresenceState::Joined;
        std::optional<MediaKind> kind;
        std::optional<VoiceRole> role;
        bool operator==(const Presence&) const = default;
    };
    struct Mic {
        ToggleState state = ToggleState::On;
        bool operator==(const Mic&) const = default;
    };
    struct Video {
        ToggleState state = ToggleState::On;
        bool operator==(const Video&) const = default;
    };
    struct Screen {
        ToggleState state = ToggleState::On;
        bool operator==(const Screen&) const = default;
    };
    struct Hand {
        ToggleState state = ToggleState::On;
        bool operator==(const Hand&) const = default;
    };
    struct Deaf {
        ToggleState state = ToggleState::On;
        bool operator==(const Deaf&) const = default;
    };
    struct Speaking {
        bool operator==(const Speaking&) const = default;
    };
    struct Silent {
        bool operator==(const Silent&) const = default;
    };
    struct React {
        std::optional<std::string> member;
        std::string emoji;
        bool operator==(const React&) const = default;
    };
    struct Promote {
        std::string target;
        bool operator==(const Promote&) const = default;
    };
    struct Demote {
        std::string target;
        bool operator==(const Demote&) const = default;
    };
    struct Role {
        std::string member;
        VoiceRole role = VoiceRole::Publisher;
        bool operator==(const Role&) const = default;
    };
    struct Error {
        std::optional<std::string> error;
        bool operator==(const Error&) const = default;
    };

    std::variant<Join, Leave, Joined, Offer, Answer, Ice, Presence, Mic, Video, Screen, Hand, Deaf,
                 Speaking, Silent, React, Promote, Demote, Role, Error>
        value;

    // The command road: a buffered value in object or array form, whose tag may also be the
    // variant index. Errors carry no position. Defined with the text reader (signal_reader.cpp).
    static bool deserialize(JsonContent& value, Signal& out, std::string& error);
    bool operator==(const Signal&) const = default;
};

inline constexpr std::size_t kSignalVariants = 19;

// The "type" word of variant `index` ("join" ... "error"); `index` < kSignalVariants.
std::string_view signal_type_word(std::size_t index);
inline std::string_view signal_type_word(const Signal& s) { return signal_type_word(s.value.index()); }
// The 19 words in variant order.
std::span<const std::string_view> signal_type_words();

// Appends the host-form object of the frame; cannot fail.
void signal_to_json(const Signal& signal, std::string& out);

// Field writers: each appends "," key ":" value to an object under construction.
void write_voice_mode(const std::optional<VoiceMode>& v, std::string& out);
void write_voice_role(const std::optional<VoiceRole>& v, std::string& out);
void write_streamers(const std::optional<std::vector<std::string>>& v, std::string& out);
void write_turn(const std::optional<TurnCredentials>& v, std::string& out);
void write_tracks(const std::optional<std::vector<TrackHint>>& v, std::string& out);
void write_chunk(const std::optional<ChunkMeta>& v, std::string& out);
void write_toggle_state(ToggleState v, std::string& out);

}  // namespace tessel
