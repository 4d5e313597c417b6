// The SCRAM-SHA-256 client against the server's two messages: the input is the server-first
// message, an LF, and the server-final message. When the first is accepted, the signature a
// genuine server would send must verify, and the fuzzed final must not crash the check. The
// same two messages then go through an engine's AUTHENTICATE exchange.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "fuzz/scram_budget.hpp"
#include "tessel_client/engine/base64.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/engine/hmac_sha256.hpp"
#include "tessel_client/engine/scram.hpp"

namespace tessel {
namespace {

// The client's own nonce, after the letters-and-digits filter.
constexpr std::string_view kNonce = "fuzznonce";

void check_functions(std::string_view server_first, std::string_view server_final) {
    auto [state, bare] = scram_client_first("user", "pencil", kNonce);
    FUZZ_CHECK(bare == "n=user,r=fuzznonce");
    auto result = scram_client_final(state, server_first);
    const auto* client_final = std::get_if<std::string>(&result);
    if (!client_final) {
        // Refused before any key exists: nothing can verify.
        FUZZ_CHECK(!state.server_key && !state.auth_message);
        FUZZ_CHECK(scram_verify_server_final(state, server_final) == ScramError::Malformed);
        return;
    }
    FUZZ_CHECK(client_final->starts_with("c=biws,r=fuzznonce"));
    FUZZ_CHECK(state.server_key && state.auth_message);
    const std::string genuine = "v=" + base64_encode(hmac_sha256(*state.server_key, *state.auth_message));
    FUZZ_CHECK(!scram_verify_server_final(state, genuine));
    if (scram_verify_server_final(state, server_final) == std::nullopt) {
        // Only the genuine signature verifies (it may stand among other attributes).
        FUZZ_CHECK(server_final.find(genuine.substr(2)) != std::string_view::npos);
    }
}

// AUTHENTICATE lines for one server message, in the 400-character pieces servers send.
std::string authenticate_lines(std::string_view message) {
    if (message.empty()) return "AUTHENTICATE +\r\n";
    const std::string text = base64_encode(message);
    std::string lines;
    for (std::size_t at = 0; at < text.size(); at += 400) lines += "AUTHENTICATE " + text.substr(at, 400) + "\r\n";
    return lines;
}

void check_engine(std::string_view server_first, std::string_view server_final) {
    Config config;
    config.nick = "me";
    config.sasl = Credentials{Credentials::Scram{"user", "pencil", std::string(kNonce)}};
    Engine engine(std::move(config));
    engine.handle_connected();
    engine.handle_bytes(":srv CAP * LS :sasl=SCRAM-SHA-256\r\n:srv CAP * ACK :sasl\r\nAUTHENTICATE +\r\n");
    engine.handle_bytes(authenticate_lines(server_first));
    engine.handle_bytes(authenticate_lines(server_final));
    engine.handle_bytes(":srv 903 me :SASL authentication successful\r\n");
    while (const auto line = engine.poll_transmit())
        FUZZ_CHECK(line->find_first_of(std::string_view("\r\n\0", 3)) == line->size() - 2);
    engine.poll_events();
}

}  // namespace
}  // namespace tessel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessel;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = input.find('\n');
    const std::string_view server_first = input.substr(0, lf);
    const std::string_view server_final = lf == input.npos ? std::string_view() : input.substr(lf + 1);
    if (fuzz::scram_too_costly(server_first)) return 0;
    check_functions(server_first, server_final);
    check_engine(server_first, server_final);
    return 0;
}
