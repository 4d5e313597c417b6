// Framing of received bytes into lines, the keepalive and label steps, and the dispatch of
// each message to the one place that handles it.
#include <cstring>
#include <limits>

#include "tessel_client/engine/ascii.hpp"
#include "tessel_client/engine/engine.hpp"
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
        front->second = saturating_add(now_ms, kIdleMs);
        ++front;
    } else {
        front = std::next(timers.emplace_hint(front, TimerKey{TimerKey::Idle{}}, saturating_add(now_ms, kIdleMs)));
    }
    if (front != timers.end() && front->first.value.index() == 1) timers.erase(front);

    settle_label(parsed);
    dispatch(parsed);
}

void Engine::settle_label(const IrcMessage& message) {
    if (ascii_iequal(message.command, "BATCH")) {
        if (message.params.empty() || message.params[0].empty()) return;
        const std::string& first = message.params[0];
        std::string_view ref = std::string_view(first).substr(1);
        if (first[0] == '+') {
            auto label = find_tag(message.tags, "label");
            if (!label) return;
            auto pending = pending_labels.find(*label);
            if (pending == pending_labels.end()) return;
            pending->second.batch = std::string(ref);
            batch_labels.insert_or_assign(std::string(ref), std::string(*label));
        } else if (first[0] == '-') {
            auto link_it = batch_labels.find(ref);
            if (link_it == batch_labels.end()) return;
            if (auto pending = pending_labels.find(link_it->second); pending != pending_labels.end())
                pending_labels.erase(pending);
            batch_labels.erase(link_it);
        }
        return;
    }
    if (message.tags.empty() || pending_labels.empty()) return;
    auto label = find_tag(message.tags, "label");
    if (!label) return;
    auto pending = pending_labels.find(*label);
    if (pending == pending_labels.end()) return;
    if (pending->second.batch) {
        if (auto link_it = batch_labels.find(*pending->second.batch); link_it != batch_labels.end())
            batch_labels.erase(link_it);
    }
    pending_labels.erase(pending);
}

void Engine::dispatch(IrcMessage& message) {
    const std::string& word = message.command;
    const std::size_t n = message.params.size();
    auto is = [&](std::string_view pattern) { return ascii_iequal(word, pattern); };

    if (word.size() == 3) {
        if (word == "001") return on_welcome(message);
        if (word == "005") return on_isupport(message);
        if (is("CAP")) return on_cap(message);
        if (word == "730" || word == "731") return monitor_reply(message);
        if (word == "433" || word == "432") return nick_rejected(message);
        if (auto reason = sasl_failure_from_numeric(word)) return sasl_failed(*reason);
        if (word == "900") {
            if (n >= 3) emit(Event::LoggedIn{message.params[2]});
            return;
        }
        if (word == "903") return on_sasl_success();
    } else if (is("TAGMSG")) {
        if (auto typing = find_tag(message.tags, "+typing"); typing && n >= 1 && message.source)
            return on_typing(message, *typing);
        // Voice frames and bot data are consumed here; they are read once those features land.
        if (find_tag(message.tags, "+vantaweb/rtc") && n >= 1) return;
        if (find_tag(message.tags, "tesselnet/bot-info")) return;
        if (find_tag(message.tags, "+draft/bot-cmds")) return;
    } else if (is("PONG")) {
        return;
    } else if (is("PING")) {
        return on_ping(message);
    } else if (is("CMDSLIST")) {
        return;  // the allowed-command list is kept once bots and allowed commands land
    } else if (is("TOKEN")) {
        if (n >= 4 && message.params[0] == "GENERATE")
            return emit(Event::AuthToken{message.params[1], message.params[2], message.params[3]});
    } else if (is("FAIL")) {
        if (n >= 2) return on_standard_reply(message, ReplySeverity::fail);
    } else if (is("WARN")) {
        if (n >= 2) return on_standard_reply(message, ReplySeverity::warn);
    } else if (is("NOTE")) {
        if (n >= 2) return on_standard_reply(message, ReplySeverity::note);
    } else if (is("AUTHENTICATE")) {
        return handle_authenticate(message.params);
    } else if (is("BATCH")) {
        return handle_batch(message);
    }

    if (batches.empty()) {  // nothing to collect into: spare the message a round trip
        if (!apply_changes(message, false, &message)) emit(Event::RawLine{std::move(message)});
        return;
    }
    if (auto back = collect_batch_message(std::move(message))) {
        if (!apply_changes(*back, false, &*back)) emit(Event::RawLine{std::move(*back)});
    }
}

}  // namespace tessel
