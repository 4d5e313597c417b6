// Strategy: the writer appends the compact text straight into one string, with the string
// escaping of the tag JSON writer, so the output is what writing the equivalent JsonValue
// would give without building one. The reader parses the whole value once, then each
// variant's reader looks its keys up (first occurrence wins) and moves the strings out.
#include "tessel_client/voice/signal_wire.hpp"

#include <array>
#include <limits>
#include <utility>

#include "tessel_client/protocol/json_value.hpp"

namespace tessel {
namespace {

// Wire words; three types differ from the host words.
constexpr std::array<std::string_view, 2> kRoleWords = {"streamer", "viewer"};
constexpr std::array<std::string_view, 2> kModeWords = {"voice", "stream"};
constexpr std::array<std::string_view, 4> kKindWords = {"mic", "video", "screen", "hand"};
constexpr std::array<std::string_view, 8> kPresenceWords = {"joined",   "left",   "on",      "off",
                                                            "speaking", "silent", "deaf-on", "deaf-off"};
constexpr std::array<std::string_view, 2> kToggleWords = {"on", "off"};

std::string_view wire_word(VoiceRole v) { return kRoleWords[static_cast<std::size_t>(v)]; }
std::string_view wire_word(VoiceMode v) { return kModeWords[static_cast<std::size_t>(v)]; }
std::string_view wire_word(MediaKind v) { return kKindWords[static_cast<std::size_t>(v)]; }
std::string_view wire_word(PresenceState v) { return kPresenceWords[static_cast<std::size_t>(v)]; }
std::string_view wire_word(ToggleState v) { return kToggleWords[static_cast<std::size_t>(v)]; }

// ---- writing -----------------------------------------------------------------------------

// Appends the members after "type"; keys and words are plain ASCII and need no escaping.
struct WireWriter {
    std::string& out;

    void key(std::string_view k) const {
        out += ",\"";
        out += k;
        out += "\":";
    }
    void text(std::string_view k, std::string_view v) const {
        key(k);
        write_json_string(v, out);
    }
    void optional_text(std::string_view k, const std::optional<std::string>& v) const {
        if (v) text(k, *v);
    }
    void word(std::string_view k, std::string_view w) const {
        key(k);
        out += '"';
        out += w;
        out += '"';
    }
    template <class E>
    void word(std::string_view k, const std::optional<E>& v) const {
        if (v) word(k, wire_word(*v));
    }
    void number(std::string_view k, std::uint32_t n) const {
        key(k);
        out += std::to_string(n);
    }
    void list(const std::vector<std::string>& items) const {
        out += '[';
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i != 0) out += ',';
            write_json_string(items[i], out);
        }
        out += ']';
    }
    void list(std::string_view k, const std::optional<std::vector<std::string>>& v) const {
        if (!v) return;
        key(k);
        list(*v);
    }
    void tracks(const std::optional<std::vector<TrackHint>>& v) const {
        if (!v) return;
        key("tracks");
        out += '[';
        for (std::size_t i = 0; i < v->size(); ++i) {
            if (i != 0) out += ',';
            out += "{\"mid\":";
            write_json_string((*v)[i].mid, out);
            out += ",\"member\":";
            write_json_string((*v)[i].member, out);
            out += '}';
        }
        out += ']';
    }
    void turn(const std::optional<TurnCredentials>& v) const {
        if (!v) return;
        key("turn");
        out += "{\"urls\":";
        list(v->urls);
        out += ",\"username\":";
        write_json_string(v->username, out);
        out += ",\"password\":";
        write_json_string(v->password, out);
        out += '}';
    }
    void chunk(const std::optional<ChunkMeta>& v) const {
        if (!v) return;
        text("id", v->id);
        number("seq", v->seq);
        number("total", v->total);
    }

    void operator()(const Signal::Join& s) const { text("channel", s.channel); }
    void operator()(const Signal::Leave& s) const { text("channel", s.channel); }
    void operator()(const Signal::Joined& s) const {
        key("members");
        list(s.members);
        word("mode", s.mode);
        word("role", s.role);
        list("streamers", s.streamers);
        turn(s.turn);
        tracks(s.tracks);
    }
    void operator()(const Signal::Offer& s) const {
        text("sdp", s.sdp);
        tracks(s.tracks);
        chunk(s.chunk);
    }
    void operator()(const Signal::Answer& s) const {
        text("sdp", s.sdp);
        chunk(s.chunk);
    }
    void operator()(const Signal::Ice& s) const {
        text("cand", s.cand);
        optional_text("mid", s.mid);
        if (s.mlineidx) number("mlineidx", *s.mlineidx);
    }
    void operator()(const Signal::Presence& s) const {
        text("member", s.member);
        word("state", wire_word(s.state));
        word("kind", s.kind);
        word("role", s.role);
    }
    void operator()(const Signal::Mic& s) const { word("state", wire_word(s.state)); }
    void operator()(const Signal::Video& s) const { word("state", wire_word(s.state)); }
    void operator()(const Signal::Screen& s) const { word("state", wire_word(s.state)); }
    void operator()(const Signal::Hand& s) const { word("state", wire_word(s.state)); }
    void operator()(const Signal::Deaf& s) const { word("state", wire_word(s.state)); }
    void operator()(const Signal::Speaking&) const { word("state", "speaking"); }
    void operator()(const Signal::Silent&) const { word("state", "silent"); }
    void operator()(const Signal::React& s) const {
        optional_text("member", s.member);
        text("emoji", s.emoji);
    }
    void operator()(const Signal::Promote& s) const { text("target", s.target); }
    void operator()(const Signal::Demote& s) const { text("target", s.target); }
    void operator()(const Signal::Role& s) const {
        text("member", s.member);
        word("role", wire_word(s.role));
    }
    void operator()(const Signal::Error& s) const { optional_text("error", s.error); }
};

// Room for the large strings of a frame, so a long session description is copied once.
std::size_t text_size(const Signal& signal) {
    if (const auto* offer = std::get_if<Signal::Offer>(&signal.value)) return offer->sdp.size();
    if (const auto* answer = std::get_if<Signal::Answer>(&signal.value)) return answer->sdp.size();
    if (const auto* ice = std::get_if<Signal::Ice>(&signal.value)) return ice->cand.size();
    return 0;
}

// ---- reading -----------------------------------------------------------------------------

using Pairs = JsonValue::Object;

JsonValue* first(Pairs& pairs, std::string_view key) {
    for (auto& [k, v] : pairs) {
        if (k == key) return &v;
    }
    return nullptr;
}

std::string* string_at(Pairs& pairs, std::string_view key) {
    JsonValue* v = first(pairs, key);
    return v == nullptr ? nullptr : std::get_if<std::string>(&v->value);
}

std::optional<std::string> optional_string(Pairs& pairs, std::string_view key) {
    if (std::string* s = string_at(pairs, key)) return std::move(*s);
    return std::nullopt;
}

// The index of the word the key holds among `words`.
template <std::size_t N>
std::optional<std::size_t> word_at(Pairs& pairs, std::string_view key, const std::array<std::string_view, N>& words) {
    const std::string* s = string_at(pairs, key);
    if (s == nullptr) return std::nullopt;
    for (std::size_t i = 0; i < N; ++i) {
        if (words[i] == *s) return i;
    }
    return std::nullopt;
}

template <class E, std::size_t N>
std::optional<E> enum_at(Pairs& pairs, std::string_view key, const std::array<std::string_view, N>& words) {
    if (auto i = word_at(pairs, key, words)) return static_cast<E>(*i);
    return std::nullopt;
}

std::optional<std::uint32_t> u32_of(const JsonValue* v) {
    const std::int64_t* n = v == nullptr ? nullptr : v->as_number();
    if (n == nullptr || *n < 0 || *n > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*n);
}

// An array whose every element is a string.
std::optional<std::vector<std::string>> strings_of(JsonValue* v) {
    auto* items = v == nullptr ? nullptr : std::get_if<JsonValue::Array>(&v->value);
    if (items == nullptr) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(items->size());
    for (JsonValue& item : *items) {
        auto* s = std::get_if<std::string>(&item.value);
        if (s == nullptr) return std::nullopt;
        out.push_back(std::move(*s));
    }
    return out;
}

std::optional<TurnCredentials> turn_of(JsonValue* v) {
    auto* pairs = v == nullptr ? nullptr : std::get_if<Pairs>(&v->value);
    if (pairs == nullptr || pairs->empty()) return std::nullopt;
    TurnCredentials turn;
    JsonValue* urls = first(*pairs, "urls");
    if (urls == nullptr) return std::nullopt;
    if (auto* one = std::get_if<std::string>(&urls->value)) {
        turn.urls.push_back(std::move(*one));
    } else if (auto many = strings_of(urls)) {
        turn.urls = std::move(*many);
    } else {
        return std::nullopt;
    }
    std::string* username = string_at(*pairs, "username");
    std::string* password = string_at(*pairs, "password");
    if (username == nullptr || password == nullptr) return std::nullopt;
    turn.username = std::move(*username);
    turn.password = std::move(*password);
    return turn;
}

// All elements or none: one bad track drops the whole list.
std::optional<std::vector<TrackHint>> tracks_of(JsonValue* v) {
    auto* items = v == nullptr ? nullptr : std::get_if<JsonValue::Array>(&v->value);
    if (items == nullptr) return std::nullopt;
    std::vector<TrackHint> out;
    out.reserve(items->size());
    for (JsonValue& item : *items) {
        auto* pairs = std::get_if<Pairs>(&item.value);
        if (pairs == nullptr) return std::nullopt;
        std::string* mid = string_at(*pairs, "mid");
        std::string* member = string_at(*pairs, "member");
        if (mid == nullptr || member == nullptr) return std::nullopt;
        out.push_back(TrackHint{std::move(*mid), std::move(*member)});
    }
    return out;
}

std::optional<ChunkMeta> chunk_of(Pairs& pairs) {
    std::string* id = string_at(pairs, "id");
    auto seq = u32_of(first(pairs, "seq"));
    auto total = u32_of(first(pairs, "total"));
    if (id == nullptr || !seq || !total) return std::nullopt;
    return ChunkMeta{std::move(*id), *seq, *total};
}

// ---- variant readers: nothing when a required key is missing or bad ----------------------

using WireReader = std::optional<Signal> (*)(Pairs&);

template <class T>
std::optional<Signal> read_channel(Pairs& pairs) {
    std::string* channel = string_at(pairs, "channel");
    if (channel == nullptr) return std::nullopt;
    return Signal{T{std::move(*channel)}};
}

std::optional<Signal> read_joined(Pairs& pairs) {
    auto members = strings_of(first(pairs, "members"));
    if (!members) return std::nullopt;
    return Signal{Signal::Joined{std::move(*members), enum_at<VoiceMode>(pairs, "mode", kModeWords),
                                 enum_at<VoiceRole>(pairs, "role", kRoleWords), strings_of(first(pairs, "streamers")),
                                 turn_of(first(pairs, "turn")), tracks_of(first(pairs, "tracks"))}};
}

std::optional<Signal> read_offer(Pairs& pairs) {
    std::string* sdp = string_at(pairs, "sdp");
    if (sdp == nullptr) return std::nullopt;
    return Signal{Signal::Offer{std::move(*sdp), tracks_of(first(pairs, "tracks")), chunk_of(pairs)}};
}

std::optional<Signal> read_answer(Pairs& pairs) {
    std::string* sdp = string_at(pairs, "sdp");
    if (sdp == nullptr) return std::nullopt;
    return Signal{Signal::Answer{std::move(*sdp), chunk_of(pairs)}};
}

std::optional<Signal> read_ice(Pairs& pairs) {
    std::string* cand = string_at(pairs, "cand");
    if (cand == nullptr) return std::nullopt;
    return Signal{Signal::Ice{std::move(*cand), optional_string(pairs, "mid"), u32_of(first(pairs, "mlineidx"))}};
}

std::optional<Signal> read_presence(Pairs& pairs) {
    std::string* member = string_at(pairs, "member");
    auto state = enum_at<PresenceState>(pairs, "state", kPresenceWords);
    if (member == nullptr || !state) return std::nullopt;
    return Signal{Signal::Presence{std::move(*member), *state, enum_at<MediaKind>(pairs, "kind", kKindWords),
                                   enum_at<VoiceRole>(pairs, "role", kRoleWords)}};
}

template <class T>
std::optional<Signal> read_toggle(Pairs& pairs) {
    auto state = enum_at<ToggleState>(pairs, "state", kToggleWords);
    if (!state) return std::nullopt;
    return Signal{T{*state}};
}

template <class T>
std::optional<Signal> read_unit(Pairs&) {
    return Signal{T{}};
}

std::optional<Signal> read_react(Pairs& pairs) {
    std::string* emoji = string_at(pairs, "emoji");
    if (emoji == nullptr) return std::nullopt;
    return Signal{Signal::React{optional_string(pairs, "member"), std::move(*emoji)}};
}

template <class T>
std::optional<Signal> read_target(Pairs& pairs) {
    std::string* target = string_at(pairs, "target");
    if (target == nullptr) return std::nullopt;
    return Signal{T{std::move(*target)}};
}

std::optional<Signal> read_role(Pairs& pairs) {
    std::string* member = string_at(pairs, "member");
    auto role = enum_at<VoiceRole>(pairs, "role", kRoleWords);
    if (member == nullptr || !role) return std::nullopt;
    return Signal{Signal::Role{std::move(*member), *role}};
}

std::optional<Signal> read_error(Pairs& pairs) { return Signal{Signal::Error{optional_string(pairs, "error")}}; }

// By variant index, in the order of the "type" words.
constexpr std::array<WireReader, kSignalVariants> kWireReaders = {
    read_channel<Signal::Join>, read_channel<Signal::Leave>, read_joined,
    read_offer,                 read_answer,                 read_ice,
    read_presence,              read_toggle<Signal::Mic>,    read_toggle<Signal::Video>,
    read_toggle<Signal::Screen>, read_toggle<Signal::Hand>,  read_toggle<Signal::Deaf>,
    read_unit<Signal::Speaking>, read_unit<Signal::Silent>,  read_react,
    read_target<Signal::Promote>, read_target<Signal::Demote>, read_role,
    read_error,
};
static_assert(kWireReaders.size() == std::variant_size_v<decltype(Signal::value)>);

}  // namespace

std::string signal_to_wire(const Signal& signal) {
    std::string out;
    out.reserve(96 + text_size(signal) + text_size(signal) / 16);
    out += "{\"type\":\"";
    out += signal_type_word(signal);
    out += '"';
    std::visit(WireWriter{out}, signal.value);
    out += '}';
    return out;
}

std::optional<Signal> signal_from_wire(std::string_view text) {
    auto parsed = parse_json_text(text);
    if (!parsed) return std::nullopt;
    auto* pairs = std::get_if<Pairs>(&parsed->value);
    if (pairs == nullptr) return std::nullopt;
    const std::string* type = string_at(*pairs, "type");
    if (type == nullptr) return std::nullopt;
    const auto words = signal_type_words();
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == *type) return kWireReaders[i](*pairs);
    }
    return std::nullopt;
}

}  // namespace tessel
