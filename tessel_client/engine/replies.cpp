// Connection-level replies the receive dispatch consumes itself.
#include "tessel_client/engine/ascii.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/engine/monitor.hpp"
#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

void Engine::on_welcome(const IrcMessage& message) {
    link = LinkState::Registered;
    if (!message.params.empty()) current_nick = message.params[0];
    model.me.nick = current_nick;
    emit(Event::Registered{current_nick});

    // Resume where an earlier connection left off.
    if (!monitor_watched.empty()) {
        std::vector<std::string> nicks(monitor_watched.begin(), monitor_watched.end());
        for (std::string& group : chunk_monitor_targets(nicks, isupport.number("MONITOR").value_or(kDefaultMonitorLimit)))
            queue_line(IrcMessage::make("MONITOR", "+", std::move(group)));
    }
    if (!metadata_keys.empty()) {
        std::vector<std::string> params{"*", "SUB"};
        params.insert(params.end(), metadata_keys.begin(), metadata_keys.end());
        queue_line(IrcMessage::make("METADATA", std::move(params)));
    }
    const bool history = caps.is_enabled("draft/chathistory");
    for (const auto& [folded, channel] : model.channels) {
        // A channel's name is the server's text as well: one that cannot stand before another
        // parameter is rejoined by name alone, and asks for no history.
        const bool name_fits = fits_middle(channel.name);
        auto key = channel_keys.find(irc_fold(isupport.casemapping, channel.name));
        if (key != channel_keys.end() && name_fits)
            queue_line(IrcMessage::make("JOIN", channel.name, key->second));
        else
            queue_line(IrcMessage::make("JOIN", channel.name));
        if (!history || !name_fits || channel.log.messages.empty()) continue;
        auto msgid = channel.log.messages.rbegin()->msgid();
        if (!msgid) continue;
        // A server's msgid is its own text: one that would split this line is as good as none.
        std::string after = "msgid=" + std::string(*msgid);
        if (fits_middle(after))
            queue_line(IrcMessage::make("CHATHISTORY", "AFTER", channel.name, std::move(after), "100"));
    }
    // Then what the host asked for while we were not registered, now that the server listens.
    release_held_lines();
}

void Engine::on_ping(const IrcMessage& message) {
    queue_line(IrcMessage::make("PONG", message.params.empty() ? std::string() : message.params.back()));
}

void Engine::on_isupport(const IrcMessage& message) {
    const auto& p = message.params;
    for (std::size_t i = 1; i + 1 < p.size(); ++i) {
        IsupportChange change = apply_isupport_token(isupport, p[i]);
        std::optional<std::string> value;
        if (!change.removed) value = std::move(change.value);
        emit(Event::IsupportToken{std::move(change.token), std::move(value)});
    }
}

void Engine::on_cap(const IrcMessage& message) {
    const auto& p = message.params;
    const std::string sub = ascii_uppercase(p[1]);
    if (sub.empty()) return;
    const std::string& list = p.back();
    const bool continues = p.size() >= 3 && p[2] == "*";
    if (sub == "LS") {
        caps.offer(list);
        if (continues) return;
        link_notes.cap_listed = true;
        request_caps();
    } else if (sub == "NEW") {
        caps.offer(list);
        request_caps();
    } else if (sub == "DEL") {
        caps.del(list);
    } else if (sub == "ACK") {
        std::vector<std::string> names = caps.ack(list);
        if (!names.empty()) emit(Event::CapabilitiesAcknowledged{std::move(names)});
        advance_negotiation();
    } else if (sub == "NAK") {
        caps.nak(list);
        advance_negotiation();
    }
}

void Engine::on_typing(const IrcMessage& message) {
    const std::string_view value = *find_tag(message.tags, "+typing");
    const std::string& sender = message.source->name;
    const std::string& target = isupport.is_channel(message.params[0]) ? message.params[0] : sender;
    const CaseMapping mapping = isupport.casemapping;
    const bool active = value == "active";
    TimerKey key{TimerKey::Typing{irc_fold(mapping, target), irc_fold(mapping, sender)}};
    const auto& typing = std::get<TimerKey::Typing>(key.value);
    const bool changed = model.set_typing_member(typing.target, typing.nick, active);
    if (active)
        timers.insert_or_assign(std::move(key), saturating_add(now_ms, kTypingExpiryMs));
    else
        timers.erase(key);
    if (changed) emit(Event::TypingChanged{target, sender, active});
}

void Engine::on_logged_in(const IrcMessage& message) { emit(Event::LoggedIn{message.params[2]}); }

void Engine::on_sasl_failure(const IrcMessage& message) { sasl_failed(*sasl_failure_from_numeric(message.command)); }

void Engine::on_authenticate(const IrcMessage& message) { handle_authenticate(message.params); }

void Engine::on_sasl_success(const IrcMessage&) {
    if (sasl == SaslState::Finished) return;
    sasl = SaslState::Finished;
    advance_negotiation();
}

void Engine::on_auth_token(const IrcMessage& message) {
    const auto& p = message.params;
    emit(Event::AuthToken{p[1], p[2], p[3]});
}

void Engine::on_standard_reply(const IrcMessage& message) {
    const ReplySeverity severity = ascii_iequal(message.command, "FAIL")   ? ReplySeverity::fail
                                   : ascii_iequal(message.command, "WARN") ? ReplySeverity::warn
                                                                           : ReplySeverity::note;
    const auto& p = message.params;
    std::vector<std::string> context;
    if (p.size() > 3) context.assign(p.begin() + 2, p.end() - 1);
    emit(Event::ServerReply{severity, p[0], p[1], std::move(context), p.back()});
}

}  // namespace tessel
