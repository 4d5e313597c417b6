// The roster of one voice room, kept from the frames received for it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "tessel_client/protocol/casemapping.hpp"
#include "tessel_client/voice/signal.hpp"

namespace tessel {

struct VoiceMember {
    std::string nick;  // as spelled in the frame that added the member
    VoiceRole role = VoiceRole::Viewer;
    ToggleState mic = ToggleState::Off;
    ToggleState video = ToggleState::Off;
    ToggleState screen = ToggleState::Off;
    ToggleState hand = ToggleState::Off;
    ToggleState speaking = ToggleState::Off;
    ToggleState deaf = ToggleState::Off;

    bool operator==(const VoiceMember&) const = default;
};

struct VoiceRoom {
    std::string name;  // the target of the frame that created the room
    std::optional<TurnCredentials> turn;
    std::map<std::string, VoiceMember, std::less<>> members;  // folded nick -> member
    bool stream_room = false;  // the name begins with "$"; fixed at creation

    // A new room for a frame's target.
    static VoiceRoom created_for(std::string_view target);

    // Publishers everywhere but in a stream room, where members only watch unless named.
    VoiceRole default_role() const { return stream_room ? VoiceRole::Viewer : VoiceRole::Publisher; }
    // The member under the folded nick, added (as a viewer, every flag off) when absent.
    VoiceMember& member_entry(std::string_view nick, CaseMapping mapping);
    // Updates the roster from one received frame; `own_nick` is the engine's nick now.
    void apply_signal(std::string_view own_nick, const Signal& signal, CaseMapping mapping);
};

}  // namespace tessel
