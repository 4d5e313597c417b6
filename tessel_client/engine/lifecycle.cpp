// Link up and down, the clock and its timers, and refused nicks during registration.
#include <algorithm>
#include <limits>

#include "tessel_client/engine/engine.hpp"
#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// min(cap, base * 2^attempts), where an overflowing power or product counts as the maximum.
std::uint64_t backoff_delay(std::uint64_t base, std::uint64_t cap, std::uint32_t attempts) {
    std::uint64_t product;
    if (base == 0) {
        product = 0;
    } else if (attempts >= 64) {
        product = kMax;
    } else {
        std::uint64_t power = std::uint64_t{1} << attempts;
        product = power > kMax / base ? kMax : base * power;
    }
    return std::min(cap, product);
}

}  // namespace

void Engine::handle_connected() {
    // The old link went without a word. Its own lines stay, as a host that calls this twice
    // asks for the burst twice.
    if (link != LinkState::Down) end_link_lines(false);
    link = LinkState::Negotiating;
    reconnect_attempts = 0;
    // A new transport starts clean: a partial line (or the tail of a given-up line) of the dead
    // connection must not be glued onto, or swallow, the new server's first line.
    recv_buf.clear();
    discarding = false;

    timers.erase(TimerKey{TimerKey::Reconnect{}});
    timers.erase(TimerKey{TimerKey::PingTimeout{}});
    timers.insert_or_assign(TimerKey{TimerKey::Idle{}}, saturating_add(now_ms, kIdleMs));

    // Host commands not yet taken wait for this registration to complete, as a server refuses
    // everything before it; the engine's own lines and the host's raw lines stay ahead of the burst.
    set_aside_command_lines();
    link_notes = LinkNotes{};  // what the old link joined, sent and listed says nothing of this one
    queue_line(IrcMessage::make("CAP", "LS", "302"));
    if (config.password) queue_line(IrcMessage::make("PASS", *config.password));
    nick_fallback = fresh_nick_fallback(config.nick);
    queue_line(IrcMessage::make("NICK", config.nick));
    queue_line(IrcMessage::make("USER", config.username, "0", "*", config.realname));
}

void Engine::handle_disconnected() {
    // A drop while down ends no link: the lines made since the last one are for the next.
    end_link_lines(link != LinkState::Down);
    link = LinkState::Down;
    batches.clear();
    caps = CapState{};
    sasl = SaslState::Idle;
    monitor_online.clear();
    bots.clear();
    model.whois.clear();
    model.clear_members();
    timers.erase(TimerKey{TimerKey::Idle{}});
    timers.erase(TimerKey{TimerKey::PingTimeout{}});

    if (reconnect_attempts < max_reconnect_attempts) {
        std::uint64_t delay = backoff_delay(reconnect_base_ms, reconnect_max_ms, reconnect_attempts);
        ++reconnect_attempts;
        timers.insert_or_assign(TimerKey{TimerKey::Reconnect{}}, saturating_add(now_ms, delay));
        emit(Event::ReconnectAfter{delay});
    } else {
        emit(Event::ReconnectAbandoned{});
    }
}

void Engine::tick(std::uint64_t monotonic_ms, std::uint64_t unix_time_ms) {
    now_ms = monotonic_ms;
    unix_ms = std::max(unix_ms, unix_time_ms);

    // Everything due is taken out first, so a timer armed while these fire waits for a later tick.
    for (auto& [key, deadline] : timers.take_due(now_ms)) {
        switch (key.value.index()) {
            case 0:  // Idle
                queue_line(IrcMessage::make("PING", current_nick));
                timers.insert_or_assign(TimerKey{TimerKey::PingTimeout{}}, saturating_add(now_ms, kPingAnswerMs));
                break;
            case 1:  // PingTimeout
                emit(Event::LinkDead{});
                break;
            case 2:  // Reconnect
                emit(Event::ReconnectAfter{0});
                break;
            default: {
                auto& typing = std::get<TimerKey::Typing>(key.value);
                if (model.set_typing_member(typing.target, typing.nick, false))
                    emit(Event::TypingChanged{std::move(typing.target), std::move(typing.nick), false});
                break;
            }
        }
    }
    expire_labels();
}

std::optional<std::uint64_t> Engine::poll_timeout() const { return timers.earliest(); }

void Engine::nick_rejected(const IrcMessage& message) {
    // After registration the refusal answers a host's NICK, and once the fallback has given up
    // there is nothing left to try: either way the host sees the line as it came.
    if (link == LinkState::Registered || nick_fallback.given_up) {
        emit(Event::RawLine{message});
        return;
    }
    const CaseMapping mapping = isupport.casemapping;
    std::string refused = message.params.size() >= 2 ? message.params[1] : nick_fallback.sent;
    note_nick_refusal(nick_fallback, mapping, refused, message.command == "432");

    std::optional<std::string> trying;
    while (!trying && alt_nick_index < config.alt_nicks.size()) {
        const std::string& alt = config.alt_nicks[alt_nick_index++];
        if (!nick_fallback.refused.contains(irc_fold(mapping, alt))) trying = alt;
    }
    const bool generated = !trying;
    if (generated && nick_fallback.tries < kMaxFallbackTries) {
        std::optional<std::size_t> max_len = nick_fallback.max_len;
        if (auto nicklen = isupport.number("NICKLEN"); nicklen && *nicklen > 0)
            max_len = std::min<std::size_t>(max_len.value_or(*nicklen), *nicklen);
        trying = fallback_nick(nick_fallback.stem, max_len, mapping, nick_fallback.refused);
    }
    if (!trying) {
        // Nothing more is sent: the server closes an unregistered link, and the reconnect
        // back-off starts a new registration.
        nick_fallback.given_up = true;
        emit(Event::RawLine{message});
        return;
    }
    if (generated) {
        ++nick_fallback.tries;
    } else {
        nick_fallback.stem = *trying;
    }
    nick_fallback.sent = *trying;
    nick_fallback.sent_generated = generated;
    current_nick = *trying;
    model.me.nick = *trying;
    emit(Event::NickInUse{std::move(refused), *trying});
    queue_line(IrcMessage::make("NICK", std::move(*trying)));
}

}  // namespace tessel
