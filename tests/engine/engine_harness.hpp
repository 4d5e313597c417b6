// Drives an Engine through its entry points: lines in, exact lines and events out.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/engine/engine.hpp"

namespace tessel {

// Readable failure output: the variant index and the text fields that identify an event.
inline void PrintTo(const Event& event, std::ostream* os) {
    *os << "Event#" << event.value.index();
    std::visit(
        [os](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, Event::RawLine>) *os << "{" << e.message.to_line() << "}";
            if constexpr (std::is_same_v<E, Event::CommandTimedOut>) *os << "{" << e.command << "}";
            if constexpr (std::is_same_v<E, Event::TypingChanged>)
                *os << "{" << e.target << "," << e.nick << "," << e.active << "}";
            if constexpr (std::is_same_v<E, Event::ReconnectAfter>) *os << "{" << e.after_ms << "}";
            if constexpr (std::is_same_v<E, Event::ModelChanged>) *os << "{change#" << e.change.value.index() << "}";
            if constexpr (std::is_same_v<E, Event::ServerReply>) *os << "{" << e.command << "," << e.code << "," << e.text << "}";
        },
        event.value);
}

}  // namespace tessel

namespace tessel::testing {

inline Config basic_config(std::string nick = "me") {
    Config config;
    config.nick = std::move(nick);
    config.username = "u";
    config.realname = "R";
    return config;
}

struct Harness {
    Engine engine;

    explicit Harness(Config config = basic_config()) : engine(std::move(config)) {}

    // Feeds each line with CR LF appended.
    void recv(std::string_view line) {
        std::string bytes(line);
        bytes += "\r\n";
        engine.handle_bytes(bytes);
    }
    void recv_all(std::initializer_list<std::string_view> lines) {
        for (auto line : lines) recv(line);
    }

    // Every queued line, CR LF stripped (and checked).
    std::vector<std::string> sent() {
        std::vector<std::string> lines;
        while (auto line = engine.poll_transmit()) {
            EXPECT_TRUE(line->size() >= 2 && line->ends_with("\r\n")) << *line;
            line->resize(line->size() - 2);
            lines.push_back(std::move(*line));
        }
        return lines;
    }

    std::vector<Event> events() { return engine.poll_events(); }

    void drain() {
        sent();
        events();
    }

    // Connected and registered as `nick`, with the given capabilities acknowledged; queues drained.
    void register_with(std::initializer_list<std::string_view> caps = {}, std::string_view isupport = "") {
        engine.handle_connected();
        std::string list;
        for (auto cap : caps) {
            if (!list.empty()) list += ' ';
            list += cap;
        }
        if (!list.empty()) {
            recv("CAP * LS :" + list);
            recv("CAP * ACK :" + list);
        } else {
            recv("CAP * LS :");
        }
        if (!isupport.empty()) recv(":srv 005 " + engine.current_nick + " " + std::string(isupport) + " :are supported");
        recv(":srv 001 " + engine.current_nick + " :Welcome");
        drain();
    }
};

template <class E>
Event ev(E e) {
    return Event{std::move(e)};
}

template <class C>
Event model_changed(C change) {
    return Event{Event::ModelChanged{Change{std::move(change)}}};
}

inline IrcMessage msg(std::string_view line) {
    auto parsed = parse_line(line);
    EXPECT_TRUE(parsed) << line;
    return parsed.value_or(IrcMessage{});
}

// The kinds of the events, by variant index, for checks that only care about the sequence.
inline std::vector<std::size_t> kinds(const std::vector<Event>& events) {
    std::vector<std::size_t> out;
    for (const auto& e : events) out.push_back(e.value.index());
    return out;
}

}  // namespace tessel::testing
