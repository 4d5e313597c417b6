#include "tessel_client/voice/voice_room.hpp"

#include <set>
#include <string>

namespace tessel {
namespace {

ToggleState& flag_of(VoiceMember& m, MediaKind kind) {
    switch (kind) {
        case MediaKind::Mic: return m.mic;
        case MediaKind::Video: return m.video;
        case MediaKind::Screen: return m.screen;
        case MediaKind::Hand: break;
    }
    return m.hand;
}

struct Apply {
    VoiceRoom& room;
    std::string_view own_nick;
    CaseMapping mapping;

    void operator()(const Signal::Joined& s) const {
        room.turn = s.turn;  // a frame without credentials clears them
        // Folded once, so a long roster is not compared with every streamer in turn.
        std::set<std::string, std::less<>> streaming;
        if (room.stream_room && s.streamers)
            for (const std::string& streamer : *s.streamers) streaming.insert(irc_fold(mapping, streamer));
        for (const std::string& name : s.members) {
            VoiceRole role = room.default_role();
            if (s.role && irc_equal(mapping, name, own_nick)) {
                role = *s.role;
            } else if (room.stream_room && s.streamers) {
                role = streaming.contains(irc_fold(mapping, name)) ? VoiceRole::Publisher : VoiceRole::Viewer;
            }
            room.member_entry(name, mapping).role = role;
        }
    }

    void operator()(const Signal::Presence& s) const {
        if (s.state == PresenceState::Joined) {
            room.member_entry(s.member, mapping).role = s.role.value_or(room.default_role());
            return;
        }
        const auto it = room.members.find(irc_fold(mapping, s.member));
        if (it == room.members.end()) return;  // only "joined" adds a member
        VoiceMember& m = it->second;
        switch (s.state) {
            case PresenceState::Left: room.members.erase(it); break;
            case PresenceState::On:
            case PresenceState::Off:
                if (s.kind) flag_of(m, *s.kind) = s.state == PresenceState::On ? ToggleState::On : ToggleState::Off;
                break;
            case PresenceState::Speaking: m.speaking = ToggleState::On; break;
            case PresenceState::Silent: m.speaking = ToggleState::Off; break;
            case PresenceState::DeafOn: m.deaf = ToggleState::On; break;
            case PresenceState::DeafOff: m.deaf = ToggleState::Off; break;
            case PresenceState::Joined: break;
        }
    }

    void operator()(const Signal::Role& s) const { room.member_entry(s.member, mapping).role = s.role; }

    // Every other frame only reaches the host.
    void operator()(const auto&) const {}
};

}  // namespace

VoiceRoom VoiceRoom::created_for(std::string_view target) {
    VoiceRoom room;
    room.name = std::string(target);
    room.stream_room = !target.empty() && target.front() == '$';
    return room;
}

VoiceMember& VoiceRoom::member_entry(std::string_view nick, CaseMapping mapping) {
    std::string key = irc_fold(mapping, nick);
    auto it = members.lower_bound(key);
    if (it == members.end() || it->first != key) {
        VoiceMember fresh;
        fresh.nick = std::string(nick);
        it = members.emplace_hint(it, std::move(key), std::move(fresh));
    }
    return it->second;
}

void VoiceRoom::apply_signal(std::string_view own_nick, const Signal& signal, CaseMapping mapping) {
    std::visit(Apply{*this, own_nick, mapping}, signal.value);
}

}  // namespace tessel
