// Logs in with SASL PLAIN, whose base64 goes through libsodium, and prints what it would send.
#include <cstdio>

#include "tessel_client/tessel_client.hpp"

int main() {
    using tessel::Credentials;
    tessel::Engine engine(tessel::Config{.nick = "pkg", .sasl = Credentials{Credentials::Plain{"pkg", "secret"}}});
    engine.handle_connected();
    engine.handle_bytes(":srv CAP * LS :sasl\r\n:srv CAP * ACK :sasl\r\nAUTHENTICATE +\r\n");
    bool sent_payload = false;
    while (auto line = engine.poll_transmit()) {
        std::fputs(line->c_str(), stdout);
        sent_payload = sent_payload || *line == "AUTHENTICATE AHBrZwBzZWNyZXQ=\r\n";
    }
    return sent_payload ? 0 : 1;
}
