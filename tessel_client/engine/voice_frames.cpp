// Received voice frames: a TAGMSG carrying "+vantaweb/rtc".
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/engine/timer_key.hpp"
#include "tessel_client/voice/signal_wire.hpp"

namespace tessel {

// The sender is not looked at: a frame the server echoes back to us counts like any other.
void Engine::on_voice_frame(const IrcMessage& message) {
    std::optional<Signal> signal = signal_from_wire(*find_tag(message.tags, "+vantaweb/rtc"));
    if (!signal) {
        malformed_lines = saturating_add(malformed_lines, 1);
        return;
    }
    const std::string& target = message.params[0];
    const CaseMapping mapping = isupport.casemapping;
    std::string key = irc_fold(mapping, target);
    auto room = voice_rooms.lower_bound(key);
    if (room == voice_rooms.end() || room->first != key)
        room = voice_rooms.emplace_hint(room, std::move(key), VoiceRoom::created_for(target));
    room->second.apply_signal(current_nick, *signal, mapping);
    emit(Event::Voice{target, std::move(*signal)});
}

}  // namespace tessel
