// Hands a message to the reducer and reports what changed.
#include <algorithm>
#include <array>

#include "tessel_client/engine/ascii.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/model/reducer.hpp"
#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

namespace {

// These only fill the pending WHOIS record, which reports once on 318.
constexpr std::array<std::string_view, 9> kWhoisReplies{"311", "312", "313", "317", "319",
                                                        "330", "338", "378", "671"};

bool is_whois_reply(std::string_view word) {
    return word.size() == 3 && std::find(kWhoisReplies.begin(), kWhoisReplies.end(), word) != kWhoisReplies.end();
}

// A server's refusals of a JOIN: no such channel, too many channels, held back, full,
// invite-only, banned, wrong key, bad name, registration needed, TLS needed.
constexpr std::array<std::string_view, 10> kJoinRefusals{"403", "405", "437", "471", "473",
                                                         "474", "475", "476", "477", "489"};

bool is_join_refusal(std::string_view word) {
    return std::find(kJoinRefusals.begin(), kJoinRefusals.end(), word) != kJoinRefusals.end();
}

}  // namespace

void Engine::apply_message(const IrcMessage& message, bool historical) {
    if (!apply_changes(message, historical)) emit(Event::RawLine{message});
}

bool Engine::apply_changes(const IrcMessage& message, bool historical) {
    ReduceContext context{model, isupport, unix_ms, historical};
    std::vector<Change>& changes = changes_;  // reused: its buffer outlives the call
    reduce_message_into(context, message, changes);
    if (changes.empty() && !historical && message.command.size() == 3) reduce_link_reply(message, changes);
    if (changes.empty()) return is_whois_reply(message.command);

    const CaseMapping mapping = isupport.casemapping;
    for (const Change& change : changes) {
        if (const auto* joined = std::get_if<Change::ChannelJoined>(&change.value)) {
            link_notes.joined.insert(irc_fold(mapping, joined->channel));
            if (isupport.tokens.find("WHOX") != isupport.tokens.end())
                queue_line(IrcMessage::make("WHO", joined->channel, "%tcuhnfar,332"));
            else
                queue_line(IrcMessage::make("WHO", joined->channel));
        } else if (const auto* parted = std::get_if<Change::ChannelParted>(&change.value)) {
            link_notes.joined.erase(irc_fold(mapping, parted->channel));
        } else if (const auto* renamed = std::get_if<Change::ChannelRenamed>(&change.value)) {
            move_channel_records(renamed->from, renamed->to);
        } else if (const auto* nick = std::get_if<Change::NickChanged>(&change.value)) {
            // Follow a confirmed change of our own nick, so PING, the local echo and the
            // fallback nick use the nick we hold now.
            if (irc_equal(isupport.casemapping, nick->from, current_nick)) current_nick = nick->to;
            // The private conversation moves to the new nick with its typing set; its typing
            // timers must follow, or an entry in that set would never expire.
            move_typing_timers(irc_fold(isupport.casemapping, nick->from), irc_fold(isupport.casemapping, nick->to));
        }
    }
    for (Change& change : changes) events.emplace_back(std::in_place_type<Event::ModelChanged>, std::move(change));
    return true;
}

void Engine::reduce_link_reply(const IrcMessage& message, std::vector<Change>& changes) {
    const std::string& word = message.command;
    if (word == "305" || word == "306") {
        // Most servers confirm our AWAY only with these, never with our own AWAY line, so they
        // stand for one. A 306 we did not ask for on this link (a bouncer's) has no text to give.
        IrcMessage away = IrcMessage::make("AWAY");
        away.source = Source{model.me.nick, std::nullopt, std::nullopt};
        if (word == "306") away.params.push_back(link_notes.away_sent.value_or(std::string()));
        ReduceContext context{model, isupport, unix_ms, false};
        reduce_message_into(context, away, changes);
        return;
    }
    // The channel a refusal names is gone for us, as after our own PART, unless our JOIN was
    // taken on this link: a channel kept across a reconnect that the server will not let us back
    // into would stay for good, and a PART of it only draws a 442. A 442 says we are not there.
    if (message.params.size() < 2 || !(word == "442" || is_join_refusal(word))) return;
    const std::string& name = message.params[1];
    std::string key = irc_fold(isupport.casemapping, name);
    if (model.channels.find(key) == model.channels.end()) return;
    if (word != "442" && link_notes.joined.contains(key)) return;
    model.erase_channel(key);
    changes.push_back(Change{Change::ChannelParted{name}});
}

void Engine::move_channel_records(std::string_view from, std::string_view to) {
    const CaseMapping mapping = isupport.casemapping;
    std::string old_key = irc_fold(mapping, from);
    std::string new_key = irc_fold(mapping, to);
    if (old_key == new_key) return;

    if (auto it = channel_keys.find(old_key); it != channel_keys.end()) {
        std::string key = std::move(it->second);
        channel_keys.erase(it);
        channel_keys.insert_or_assign(new_key, std::move(key));
    }
    // The room moves unchanged (it keeps its first name); one already under the new name goes.
    if (auto room = voice_rooms.extract(old_key)) {
        voice_rooms.erase(new_key);
        room.key() = new_key;
        voice_rooms.insert(std::move(room));
    }

    // Joined on this link under the old name is joined under the new one; a channel it
    // replaces goes with its entry.
    const bool joined = link_notes.joined.erase(old_key) > 0;
    link_notes.joined.erase(new_key);
    if (joined) link_notes.joined.insert(new_key);

    // Typing timers of the old name move with the channel, so its typists still expire.
    move_typing_timers(old_key, new_key);
}

void Engine::move_typing_timers(std::string_view old_target, std::string_view new_target) {
    if (old_target == new_target) return;
    // Typing keys sort by target first, so the old target's timers sit together.
    std::vector<std::pair<TimerKey, std::uint64_t>> moved;
    auto it = timers.lower_bound(TimerKey{TimerKey::Typing{std::string(old_target), std::string()}});
    while (it != timers.end()) {
        const auto& typing = std::get<TimerKey::Typing>(it->first.value);
        if (typing.target != old_target) break;
        moved.emplace_back(TimerKey{TimerKey::Typing{std::string(new_target), typing.nick}}, it->second);
        it = timers.erase(it);
    }
    for (auto& [key, deadline] : moved) timers.insert_or_assign(std::move(key), deadline);
}

}  // namespace tessel
