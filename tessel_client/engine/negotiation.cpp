// CAP 302 negotiation: requesting what we want, then SASL or CAP END.
#include "tessel_client/engine/ascii.hpp"
#include "tessel_client/engine/engine.hpp"

namespace tessel {

void Engine::request_caps() {
    // Until the listing is whole we cannot tell what is wanted; its last line asks for it all.
    if (link == LinkState::Negotiating && !link_notes.cap_listed) return;
    std::vector<std::string> names = caps.wanted();
    if (names.empty()) return advance_negotiation();
    caps.requested.insert(caps.requested.end(), names.begin(), names.end());
    for (std::string& name : names) queue_line(IrcMessage::make("CAP", "REQ", std::move(name)));
}

namespace {

bool lists_mechanism(std::string_view value, std::string_view mechanism) {
    while (true) {
        std::size_t comma = value.find(',');
        if (ascii_iequal(value.substr(0, comma), mechanism)) return true;
        if (comma == std::string_view::npos) return false;
        value.remove_prefix(comma + 1);
    }
}

}  // namespace

void Engine::advance_negotiation() {
    // An ACK or NAK before the listing's last line answers a request of the host's own (a raw
    // CAP REQ sent ahead of the burst), not ours: ending here would skip what we are yet to ask.
    if (link != LinkState::Negotiating || !link_notes.cap_listed || !caps.requested.empty()) return;
    switch (sasl) {
        case SaslState::MechanismSent:
        case SaslState::PayloadSent:
        case SaslState::ScramFirstSent:
        case SaslState::ScramFinalSent:
            return;  // an exchange is running; its end calls back here
        case SaslState::Idle: {
            auto offered = caps.enabled.find("sasl");
            if (offered == caps.enabled.end() || !config.sasl) break;
            std::string_view mechanism = sasl_mechanism_name(*config.sasl);
            const auto& value = offered->second;
            if (value && !value->empty() && !lists_mechanism(*value, mechanism)) {
                sasl = SaslState::Finished;
                emit(Event::SaslFailed{SaslFailure::no_shared_mechanism});
                break;
            }
            sasl = SaslState::MechanismSent;
            queue_line(IrcMessage::make("AUTHENTICATE", std::string(mechanism)));
            return;
        }
        case SaslState::Finished:
            break;
    }
    link = LinkState::Registering;
    queue_line(IrcMessage::make("CAP", "END"));
}

}  // namespace tessel
