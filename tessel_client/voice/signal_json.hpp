// The writer of a Signal's host form, over any output of the JSON writers (a std::string,
// or the JsonSizer of the event writer's sizing pass). signal.hpp has the public entry points.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/formats/json_writer.hpp"
#include "tessel_client/voice/signal.hpp"

namespace tessel {

namespace signal_json_detail {

template <class Out>
void word(std::string_view w, Out& out) {
    out += '"';
    out += w;  // host words need no escaping
    out += '"';
}

template <class Out>
void track(const TrackHint& t, Out& out) {
    out += "{\"mid\":";
    write_json_text(t.mid, out);
    out += ",\"member\":";
    write_json_text(t.member, out);
    out += '}';
}

}  // namespace signal_json_detail

template <class Out>
void write_voice_mode_to(const std::optional<VoiceMode>& v, Out& out) {
    out += ",\"mode\":";
    if (v)
        signal_json_detail::word(host_word(*v), out);
    else
        out += "null";
}

template <class Out>
void write_voice_role_to(const std::optional<VoiceRole>& v, Out& out) {
    out += ",\"role\":";
    if (v)
        signal_json_detail::word(host_word(*v), out);
    else
        out += "null";
}

template <class Out>
void write_streamers_to(const std::optional<std::vector<std::string>>& v, Out& out) {
    out += ",\"streamers\":";
    if (v)
        write_json_text_list(*v, out);
    else
        out += "null";
}

template <class Out>
void write_turn_to(const std::optional<TurnCredentials>& v, Out& out) {
    out += ",\"turn\":";
    if (!v) {
        out += "null";
        return;
    }
    out += "{\"urls\":";
    write_json_text_list(v->urls, out);
    out += ",\"username\":";
    write_json_text(v->username, out);
    out += ",\"password\":";
    write_json_text(v->password, out);
    out += '}';
}

template <class Out>
void write_tracks_to(const std::optional<std::vector<TrackHint>>& v, Out& out) {
    out += ",\"tracks\":";
    if (!v) {
        out += "null";
        return;
    }
    out += '[';
    for (std::size_t i = 0; i < v->size(); ++i) {
        if (i != 0) out += ',';
        signal_json_detail::track((*v)[i], out);
    }
    out += ']';
}

template <class Out>
void write_chunk_to(const std::optional<ChunkMeta>& v, Out& out) {
    out += ",\"chunk\":";
    if (!v) {
        out += "null";
        return;
    }
    out += "{\"id\":";
    write_json_text(v->id, out);
    out += ",\"seq\":";
    write_json_u64(v->seq, out);
    out += ",\"total\":";
    write_json_u64(v->total, out);
    out += '}';
}

template <class Out>
void write_toggle_state_to(ToggleState v, Out& out) {
    out += ",\"state\":";
    signal_json_detail::word(host_word(v), out);
}

// Appends {"type":<word>, the fields in declared order (absent ones as null)}.
template <class Out>
void write_signal(const Signal& signal, Out& out) {
    using namespace signal_json_detail;
    out += "{\"type\":";
    word(signal_type_word(signal), out);
    struct Fields {
        Out& out;
        void operator()(const Signal::Join& s) const { text_member("channel", s.channel, out); }
        void operator()(const Signal::Leave& s) const { text_member("channel", s.channel, out); }
        void operator()(const Signal::Joined& s) const {
            out += ",\"members\":";
            write_json_text_list(s.members, out);
            write_voice_mode_to(s.mode, out);
            write_voice_role_to(s.role, out);
            write_streamers_to(s.streamers, out);
            write_turn_to(s.turn, out);
            write_tracks_to(s.tracks, out);
        }
        void operator()(const Signal::Offer& s) const {
            text_member("sdp", s.sdp, out);
            write_tracks_to(s.tracks, out);
            write_chunk_to(s.chunk, out);
        }
        void operator()(const Signal::Answer& s) const {
            text_member("sdp", s.sdp, out);
            write_chunk_to(s.chunk, out);
        }
        void operator()(const Signal::Ice& s) const {
            text_member("cand", s.cand, out);
            optional_text_member("mid", s.mid, out);
            out += ",\"mlineidx\":";
            if (s.mlineidx)
                write_json_u64(*s.mlineidx, out);
            else
                out += "null";
        }
        void operator()(const Signal::Presence& s) const {
            text_member("member", s.member, out);
            out += ",\"state\":";
            word(host_word(s.state), out);
            out += ",\"kind\":";
            if (s.kind)
                word(host_word(*s.kind), out);
            else
                out += "null";
            write_voice_role_to(s.role, out);
        }
        void operator()(const Signal::Mic& s) const { write_toggle_state_to(s.state, out); }
        void operator()(const Signal::Video& s) const { write_toggle_state_to(s.state, out); }
        void operator()(const Signal::Screen& s) const { write_toggle_state_to(s.state, out); }
        void operator()(const Signal::Hand& s) const { write_toggle_state_to(s.state, out); }
        void operator()(const Signal::Deaf& s) const { write_toggle_state_to(s.state, out); }
        void operator()(const Signal::Speaking&) const {}
        void operator()(const Signal::Silent&) const {}
        void operator()(const Signal::React& s) const {
            optional_text_member("member", s.member, out);
            text_member("emoji", s.emoji, out);
        }
        void operator()(const Signal::Promote& s) const { text_member("target", s.target, out); }
        void operator()(const Signal::Demote& s) const { text_member("target", s.target, out); }
        void operator()(const Signal::Role& s) const {
            text_member("member", s.member, out);
            out += ",\"role\":";
            word(host_word(s.role), out);
        }
        void operator()(const Signal::Error& s) const { optional_text_member("error", s.error, out); }
    };
    std::visit(Fields{out}, signal.value);
    out += '}';
}

}  // namespace tessel
