// A C++ host in small: an Engine made from a Config is fed what a server would send, reacts to
// being registered by joining a channel, and is drained of the lines it queued (which a real
// host writes to its socket) and of its events, each written as the JSON a Python host gets.
//
//     cpp_host
// --8<-- the C++ host the README shows
#include <iostream>
#include <optional>
#include <string>
#include <variant>

#include "tessel_client/tessel_client.hpp"

int main() {
    tessel::Config config;
    config.nick = "mybot";
    config.realname = "My bot";
    tessel::Engine engine(std::move(config));

    auto write_out = [&engine] {
        while (auto line = engine.poll_transmit()) std::cout << "> " << *line;  // ends in CR LF
    };
    auto order = [&engine](tessel::Command command) {
        if (auto refused = engine.execute(std::move(command)))  // then nothing was sent
            std::cout << "refused: " << refused->field << " \"" << refused->value << "\"\n";
    };
    auto drain = [&engine, &order] {
        for (const tessel::Event& event : engine.poll_events()) {
            std::string json;
            tessel::event_to_json(event, json);
            std::cout << json << "\n";
            if (std::holds_alternative<tessel::Event::Registered>(event.value))
                order(tessel::Command::Join{"#tessel", std::nullopt});
        }
    };

    engine.tick(1000, 1767225600000);  // monotonic ms (any origin), Unix ms
    engine.handle_connected();         // queues CAP LS 302, NICK and USER
    write_out();
    // What the socket read, in any chunks: the engine cuts the lines.
    engine.handle_bytes(":irc.example.net 001 mybot :Welcome\r\n:irc.example.net 005 mybot CASEMAP");
    engine.handle_bytes("PING=rfc1459 :are supported\r\n");
    drain();
    write_out();
    engine.handle_bytes(":mybot!bot@example JOIN #tessel\r\n:ann!ann@example PRIVMSG #tessel :hi mybot\r\n");
    drain();
    order(tessel::Command::SendMessage{"#tessel", "hello ann"});
    order(tessel::Command::SendMessage{"#tessel :ann", "a target the line could not carry"});
    write_out();
    drain();  // our own message, stored as the server did not echo it
    std::cout << "next wake-up at " << engine.poll_timeout().value_or(0) << " ms\n";
    return 0;
}
// --8<--
