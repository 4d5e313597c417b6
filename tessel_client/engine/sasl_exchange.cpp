// The SASL exchange: answering the server's AUTHENTICATE lines and its outcome numerics.
#include "tessel_client/engine/base64.hpp"
#include "tessel_client/engine/engine.hpp"

namespace tessel {

namespace {

constexpr std::size_t kAuthenticateChunk = 400;

}  // namespace

void send_authenticate(Engine& engine, std::string_view payload) {
    if (payload.empty()) {
        engine.queue_line(IrcMessage::make("AUTHENTICATE", "+"));
        return;
    }
    std::string text = base64_encode(payload);
    for (std::size_t at = 0; at < text.size(); at += kAuthenticateChunk)
        engine.queue_line(IrcMessage::make("AUTHENTICATE", text.substr(at, kAuthenticateChunk)));
    // A last piece of full length would leave the server waiting for more.
    if (text.size() % kAuthenticateChunk == 0) engine.queue_line(IrcMessage::make("AUTHENTICATE", "+"));
}

void Engine::sasl_failed(SaslFailure reason) {
    if (sasl == SaslState::Finished) return;
    sasl = SaslState::Finished;
    emit(Event::SaslFailed{reason});
    advance_negotiation();
}

void Engine::handle_authenticate(const std::vector<std::string>& params) {
    std::string data;
    if (!params.empty() && params[0] != "+") {
        std::optional<std::string> decoded = base64_decode(params[0]);
        if (!decoded) return sasl_failed(SaslFailure::aborted);
        data = std::move(*decoded);
    }

    switch (sasl) {
        case SaslState::MechanismSent: {
            if (!config.sasl) return;
            const Credentials& credentials = *config.sasl;
            if (const auto* scram_credentials = std::get_if<Credentials::Scram>(&credentials.value)) {
                auto [state, client_first_bare] = scram_client_first(
                    scram_credentials->username, scram_credentials->password, scram_credentials->nonce);
                scram = std::move(state);
                sasl = SaslState::ScramFirstSent;
                send_authenticate(*this, "n,," + client_first_bare);
            } else {
                sasl = SaslState::PayloadSent;
                send_authenticate(*this, plain_payload(credentials));
            }
            return;
        }
        case SaslState::ScramFirstSent: {
            if (!scram) return sasl_failed(SaslFailure::aborted);
            auto result = scram_client_final(*scram, data);
            if (auto* client_final = std::get_if<std::string>(&result)) {
                sasl = SaslState::ScramFinalSent;
                send_authenticate(*this, *client_final);
            } else {
                sasl_failed(SaslFailure::rejected);
            }
            return;
        }
        case SaslState::ScramFinalSent: {
            if (!scram) return sasl_failed(SaslFailure::aborted);
            std::optional<ScramError> error = scram_verify_server_final(*scram, data);
            scram.reset();
            if (error) return sasl_failed(SaslFailure::server_not_verified);
            sasl = SaslState::PayloadSent;
            queue_line(IrcMessage::make("AUTHENTICATE", "+"));
            return;
        }
        case SaslState::Idle:
        case SaslState::PayloadSent:
        case SaslState::Finished:
            return;
    }
}

}  // namespace tessel
