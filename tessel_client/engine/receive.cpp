// Framing of received bytes into lines, the keepalive and label steps, and the dispatch of
// each message to the one place that handles it.
#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <limits>

#include "tessel_client/engine/ascii.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/protocol/command_word.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {

namespace {

void count_malformed(std::uint64_t& counter) {
    if (counter != std::numeric_limits<std::uint64_t>::max()) ++counter;
}

}  // namespace

void Engine::handle_bytes(std::string_view data) {
    // Only the engine's own steps touch the model until this returns.
    const Model::UpdateScope scope(model);
    // Lines are cut straight out of `data` while no partial line is buffered; only an
    // unterminated tail is ever copied into recv_buf.
    std::string_view rest = data;
    if (!recv_buf.empty()) {
        const void* lf = std::memchr(data.data(), '\n', data.size());
        if (!lf) {
            recv_buf.append(data);
            rest = {};
        } else {
            std::size_t head = static_cast<const char*>(lf) - data.data() + 1;
            recv_buf.append(data.substr(0, head));
            handle_line(recv_buf);  // nothing a line does touches recv_buf
            recv_buf.clear();
            rest = data.substr(head);
        }
    }
    while (!rest.empty()) {
        const void* lf = std::memchr(rest.data(), '\n', rest.size());
        if (!lf) {
            recv_buf.append(rest);
            break;
        }
        std::size_t len = static_cast<const char*>(lf) - rest.data() + 1;
        handle_line(rest.substr(0, len));
        rest.remove_prefix(len);
    }
    if (recv_buf.size() >= kMaxLineBytes) {
        recv_buf.clear();
        recv_buf.shrink_to_fit();
        // One over-long line counts once, however many times its pieces fill the buffer.
        if (!discarding) count_malformed(malformed_lines);
        discarding = true;
    }
}

void Engine::handle_line(std::string_view raw) {
    if (discarding) {  // the tail of a line that was given up
        discarding = false;
        return;
    }
    IrcMessage& parsed = received_;
    if (!(utf8_valid(raw) ? parse_line_into(raw, parsed) : parse_line_into(utf8_lossy(raw), parsed))) {
        count_malformed(malformed_lines);
        return;
    }

    // Keepalive: any parsed line proves the link alive. Idle and PingTimeout are the two
    // smallest keys, so both sit at the front of the map.
    auto front = timers.begin();
    if (front != timers.end() && front->first.value.index() == 0) {
        timers.update(front, [this](std::uint64_t& deadline) { deadline = saturating_add(now_ms, kIdleMs); });
        ++front;
    } else {
        front = std::next(timers.emplace_hint(front, TimerKey{TimerKey::Idle{}}, saturating_add(now_ms, kIdleMs)));
    }
    if (front != timers.end() && front->first.value.index() == 1) timers.erase(front);

    const std::optional<std::string> settled = settle_label(parsed);
    // A server may answer our labelled NICK with the new nick as its source; the label alone
    // says the change is ours, and taking the source at its word would rename a stranger.
    if (settled && ascii_iequal(*settled, "NICK") && ascii_iequal(parsed.command, "NICK")) {
        if (parsed.source) {
            parsed.source->name = current_nick;
        } else {
            parsed.source = Source{current_nick, std::nullopt, std::nullopt};
        }
    }
    dispatch(parsed);
}

std::optional<std::string> Engine::settle_label(const IrcMessage& message) {
    if (ascii_iequal(message.command, "BATCH")) {
        if (message.params.empty() || message.params[0].empty()) return std::nullopt;
        const std::string& first = message.params[0];
        std::string_view ref = std::string_view(first).substr(1);
        if (first[0] == '+') {
            auto label = find_tag(message.tags, "label");
            if (!label) return std::nullopt;
            auto pending = pending_labels.find(*label);
            if (pending == pending_labels.end()) return std::nullopt;
            pending_labels.update(pending, [ref](PendingLabel& request) { request.batch = std::string(ref); });
            batch_labels.insert_or_assign(std::string(ref), std::string(*label));
        } else if (first[0] == '-') {
            auto link_it = batch_labels.find(ref);
            if (link_it == batch_labels.end()) return std::nullopt;
            if (auto pending = pending_labels.find(link_it->second); pending != pending_labels.end())
                pending_labels.erase(pending);
            batch_labels.erase(link_it);
        }
        return std::nullopt;
    }
    if (message.tags.empty() || pending_labels.empty()) return std::nullopt;
    auto label = find_tag(message.tags, "label");
    if (!label) return std::nullopt;
    auto pending = pending_labels.find(*label);
    if (pending == pending_labels.end()) return std::nullopt;
    if (pending->second.batch) {
        if (auto link_it = batch_labels.find(*pending->second.batch); link_it != batch_labels.end())
            batch_labels.erase(link_it);
    }
    std::string command = pending->second.command;
    pending_labels.erase(pending);
    return command;
}

// Connection-level rows are tried in order and the first that takes a message consumes it:
// nothing else sees it, no batch holds it and no raw_line reports it. A row takes a message
// when the word matches (ASCII letters in any case, numerics as their three characters) and
// its condition holds; a message with fewer than `min_params` parameters is either dropped
// there (`Short::Drop`) or goes on down the table (`Short::Pass`). What no row takes goes to
// the batch collector and then to the model.
void Engine::dispatch(IrcMessage& message) {
    enum class Short : std::uint8_t { Drop, Pass };
    struct Route {
        std::string_view word;
        std::size_t min_params;
        Short short_lines;
        bool (*when)(const IrcMessage&);        // further condition; null: none
        void (Engine::*handle)(const IrcMessage&);  // null: consumed, nothing to do
    };
    static constexpr auto tag_value = [](const IrcMessage& m, std::string_view key) {
        return !m.tags.empty() && find_tag(m.tags, key).has_value();
    };
    static constexpr Route kRoutes[] = {
        {"001", 0, Short::Drop, nullptr, &Engine::on_welcome},
        {"005", 3, Short::Drop, nullptr, &Engine::on_isupport},
        {"CAP", 2, Short::Drop, nullptr, &Engine::on_cap},
        {"730", 0, Short::Drop, nullptr, &Engine::monitor_reply},
        {"731", 0, Short::Drop, nullptr, &Engine::monitor_reply},
        {"TAGMSG", 1, Short::Pass, [](const IrcMessage& m) { return m.source && tag_value(m, "+typing"); },
         &Engine::on_typing},
        {"TAGMSG", 1, Short::Pass, [](const IrcMessage& m) { return tag_value(m, "+vantaweb/rtc"); },
         &Engine::on_voice_frame},
        {"TAGMSG", 0, Short::Pass, [](const IrcMessage& m) { return tag_value(m, "tesselnet/bot-info"); },
         &Engine::on_bot_info},
        {"TAGMSG", 0, Short::Pass, [](const IrcMessage& m) { return tag_value(m, "+draft/bot-cmds"); },
         &Engine::on_bot_commands},
        {"PONG", 0, Short::Drop, nullptr, nullptr},  // the keepalive step already ran
        {"PING", 0, Short::Drop, nullptr, &Engine::on_ping},
        {"CMDSLIST", 0, Short::Drop, nullptr, &Engine::on_cmdslist},
        // Letter case matters for GENERATE: "generate" is not a token reply.
        {"TOKEN", 4, Short::Pass, [](const IrcMessage& m) { return m.params[0] == "GENERATE"; },
         &Engine::on_auth_token},
        {"FAIL", 2, Short::Pass, nullptr, &Engine::on_standard_reply},
        {"WARN", 2, Short::Pass, nullptr, &Engine::on_standard_reply},
        {"NOTE", 2, Short::Pass, nullptr, &Engine::on_standard_reply},
        {"AUTHENTICATE", 0, Short::Drop, nullptr, &Engine::on_authenticate},
        {"433", 0, Short::Drop, nullptr, &Engine::nick_rejected},
        {"432", 0, Short::Drop, nullptr, &Engine::nick_rejected},
        {"904", 0, Short::Drop, nullptr, &Engine::on_sasl_failure},
        {"905", 0, Short::Drop, nullptr, &Engine::on_sasl_failure},
        {"906", 0, Short::Drop, nullptr, &Engine::on_sasl_failure},
        {"907", 0, Short::Drop, nullptr, &Engine::on_sasl_failure},
        {"900", 3, Short::Drop, nullptr, &Engine::on_logged_in},
        {"903", 0, Short::Drop, nullptr, &Engine::on_sasl_success},
        {"BATCH", 0, Short::Drop, nullptr, &Engine::handle_batch},
    };

    // Rows are told apart by the numbers of their words, and most lines (chat, joins, quits)
    // match no row: one search among the sorted numbers rules them out.
    static constexpr auto kRouteNumbers = [] {
        std::array<std::uint64_t, std::size(kRoutes)> numbers{};
        for (std::size_t i = 0; i < numbers.size(); ++i) numbers[i] = word_number(kRoutes[i].word);
        return numbers;
    }();
    static constexpr auto kSortedNumbers = [] {
        auto numbers = kRouteNumbers;
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    }();
    static_assert([] {
        for (const Route& route : kRoutes)
            for (const char c : route.word)
                if (c >= 'a' && c <= 'z') return false;
        return true;
    }(), "route words are matched in upper case");

    const std::string& word = message.command;
    const std::uint64_t number = upper_word_number(word);
    if (std::binary_search(kSortedNumbers.begin(), kSortedNumbers.end(), number)) {
        for (std::size_t i = 0; i < std::size(kRoutes); ++i) {
            if (kRouteNumbers[i] != number) continue;
            const Route& route = kRoutes[i];
            if (route.word.size() > 8 ? !ascii_iequal(word, route.word) : word.size() != route.word.size()) continue;
            if (message.params.size() < route.min_params) {
                if (route.short_lines == Short::Drop) return;
                continue;
            }
            if (route.when && !route.when(message)) continue;
            if (route.handle) (this->*route.handle)(message);
            return;
        }
    }

    if (batches.empty()) {  // nothing to collect into: spare the message a round trip
        if (!apply_changes(message, false)) emit(Event::RawLine{std::move(message)});
        return;
    }
    if (auto back = collect_batch_message(std::move(message))) {
        if (!apply_changes(*back, false)) emit(Event::RawLine{std::move(*back)});
    }
}

}  // namespace tessel
