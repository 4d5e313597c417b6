// Received voice frames: a TAGMSG carrying "+vantaweb/rtc".
#include "tessel_client/engine/engine.hpp"

namespace tessel {

// PENDING(voice): read the frame, update the room and queue the voice event. Until then the
// frame is consumed unread.
void Engine::on_voice_frame(const IrcMessage&) {}

}  // namespace tessel
