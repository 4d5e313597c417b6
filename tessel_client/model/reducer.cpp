#include "tessel_client/model/reducer.hpp"

#include <algorithm>
#include <array>

#include "tessel_client/model/chat.hpp"
#include "tessel_client/model/membership.hpp"
#include "tessel_client/model/modes.hpp"
#include "tessel_client/model/user_state.hpp"
#include "tessel_client/model/who.hpp"
#include "tessel_client/model/whois.hpp"
#include "tessel_client/protocol/command_word.hpp"

namespace tessel {

std::string_view source_nick(const IrcMessage& message) {
    return message.source ? std::string_view(message.source->name) : std::string_view();
}

bool is_own_message(const Model& model, const Isupport& isupport, const IrcMessage& message) {
    return irc_equal(isupport.casemapping, source_nick(message), model.me.nick);
}

namespace {

using Changes = std::vector<Change>;
using Params = std::vector<std::string>;


template <typename T>
Changes single(T change) {
    Changes out;
    out.push_back(Change{std::move(change)});
    return out;
}

Changes reduce_join(ReduceContext& ctx, const IrcMessage& m) {
    Model& model = ctx.model;
    const CaseMapping cm = ctx.isupport.casemapping;
    const std::string& name = m.params[0];
    std::string key = irc_fold(cm, name);
    if (is_own_message(model, ctx.isupport, m)) {
        model.channel_entry(std::move(key), name);
        return single(Change::ChannelJoined{name});
    }
    auto channel = model.channels.find(key);
    if (channel == model.channels.end()) return {};
    const std::string_view nick = source_nick(m);
    std::string nick_key = irc_fold(cm, nick);
    Person& person = model.person_entry(nick_key, nick);
    person.nick = std::string(nick);
    if (m.params.size() > 1 && m.params[1] != "*") person.account = m.params[1];
    model.member_entry(channel->first, channel->second, nick_key);
    return single(Change::ChannelMembersChanged{name});
}

Changes reduce_part(ReduceContext& ctx, const IrcMessage& m) {
    Model& model = ctx.model;
    const CaseMapping cm = ctx.isupport.casemapping;
    const std::string& name = m.params[0];
    const std::string key = irc_fold(cm, name);
    if (is_own_message(model, ctx.isupport, m)) {
        model.erase_channel(key);
        return single(Change::ChannelParted{name});
    }
    auto channel = model.channels.find(key);
    if (channel != model.channels.end())
        model.erase_member(channel->first, channel->second, irc_fold(cm, source_nick(m)));
    model.prune_unknown_nicks();
    return single(Change::ChannelMembersChanged{name});
}

std::optional<std::string> topic_value(const Params& params, std::size_t index) {
    if (params.size() > index && !params[index].empty()) return params[index];
    return std::nullopt;
}

Changes reduce_topic(ReduceContext& ctx, const IrcMessage& m) {
    auto channel = ctx.model.channels.find(irc_fold(ctx.isupport.casemapping, m.params[0]));
    if (channel == ctx.model.channels.end()) return {};
    channel->second.topic = topic_value(m.params, 1);
    channel->second.topic_by = std::string(source_nick(m));
    return single(Change::ChannelTopicChanged{m.params[0]});
}

Changes reduce_topic_reply(ReduceContext& ctx, const IrcMessage& m) {
    auto channel = ctx.model.channels.find(irc_fold(ctx.isupport.casemapping, m.params[1]));
    if (channel == ctx.model.channels.end()) return {};
    channel->second.topic = topic_value(m.params, 2);
    return single(Change::ChannelTopicChanged{m.params[1]});
}

Changes reduce_prop(ReduceContext& ctx, const IrcMessage& m) {
    std::vector<std::string_view> items(m.params.begin() + 1, m.params.end());
    if (!ctx.model.apply_named_modes(irc_fold(ctx.isupport.casemapping, m.params[0]), items)) return {};
    return single(Change::ChannelModesChanged{m.params[0]});
}

Changes reduce_redact(ReduceContext& ctx, const IrcMessage& m) {
    std::string_view name;
    MessageLog* log = find_target_log(ctx.model, ctx.isupport, m.params[0], source_nick(m), name);
    if (log == nullptr) return {};
    LogMessage* message = log->find(m.params[1]);
    if (message == nullptr) return {};
    message->redacted = true;
    return single(Change::MessageRedacted{std::string(name), m.params[1]});
}

Changes reduce_markread(ReduceContext& ctx, const IrcMessage& m) {
    constexpr std::string_view kTimestamp = "timestamp=";
    std::string_view marker = m.params[1];
    if (marker.starts_with(kTimestamp)) marker.remove_prefix(kTimestamp.size());
    const std::string key = irc_fold(ctx.isupport.casemapping, m.params[0]);
    if (auto channel = ctx.model.channels.find(key); channel != ctx.model.channels.end()) {
        channel->second.read_marker = std::string(marker);
        channel->second.unread = 0;
        channel->second.mentions = 0;
        return single(Change::ReadMarkerMoved{m.params[0]});
    }
    if (auto conv = ctx.model.conversations.find(key); conv != ctx.model.conversations.end()) {
        conv->second.read_marker = std::string(marker);
        conv->second.unread = 0;
        return single(Change::ReadMarkerMoved{m.params[0]});
    }
    return {};
}

using Handler = Changes (*)(ReduceContext&, const IrcMessage&, std::string_view word);
using Appender = void (*)(ReduceContext&, const IrcMessage&, std::string_view word, Changes& out);

struct Route {
    std::string_view word;
    std::size_t min_params;
    Handler handler;
    bool replayed;                // applied while a chathistory batch is replayed
    Appender append = nullptr;    // fills the caller's list instead (chat messages)
};

Changes whois_route(ReduceContext& c, const IrcMessage& m, std::string_view w) {
    return reduce_whois_reply(c.model, c.isupport, m.params, w);
}
Changes metadata_reply_route(ReduceContext& c, const IrcMessage& m, std::string_view) {
    return reduce_metadata(c.model, c.isupport, m, 1);
}

// Sorted by word for the binary search below.
constexpr std::array kRoutes = {
    Route{"311", 2, whois_route, false},
    Route{"312", 2, whois_route, false},
    Route{"313", 2, whois_route, false},
    Route{"317", 2, whois_route, false},
    Route{"318", 2, whois_route, false},
    Route{"319", 2, whois_route, false},
    Route{"330", 2, whois_route, false},
    Route{"332", 2, [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_topic_reply(c, m); },
          false},
    Route{"338", 2, whois_route, false},
    Route{"352", 7,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_who_reply(c.model, c.isupport, m.params);
          },
          false},
    Route{"353", 3,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_names_reply(c.model, c.isupport, m.params);
          },
          false},
    Route{"354", 8,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_whox_reply(c.model, c.isupport, m.params);
          },
          false},
    Route{"378", 2, whois_route, false},
    Route{"671", 2, whois_route, false},
    Route{"760", 3, metadata_reply_route, false},
    Route{"761", 3, metadata_reply_route, false},
    Route{"766", 3, metadata_reply_route, false},
    Route{"961", 2,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_prop_list(c.model, c.isupport, m.params);
          },
          false},
    Route{"ACCOUNT", 0,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_account(c.model, c.isupport, m);
          },
          false},
    Route{"AWAY", 0,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_away(c.model, c.isupport, m); },
          false},
    Route{"JOIN", 1, [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_join(c, m); },
          false},
    Route{"KICK", 2,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_kick(c.model, c.isupport, m.params);
          },
          false},
    Route{"MARKREAD", 2, [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_markread(c, m); },
          false},
    Route{"METADATA", 2,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_metadata(c.model, c.isupport, m, 0);
          },
          false},
    Route{"MODE", 1,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_mode(c.model, c.isupport, m.params);
          },
          false},
    Route{"NICK", 1,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_nick(c.model, c.isupport, m); },
          false},
    Route{"NOTICE", 1, nullptr, true, reduce_chat_message_into},
    Route{"PART", 1, [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_part(c, m); },
          false},
    Route{"PRIVMSG", 1, nullptr, true, reduce_chat_message_into},
    Route{"PROP", 1, [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_prop(c, m); },
          false},
    Route{"QUIT", 0,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_quit(c.model, c.isupport, m); },
          false},
    Route{"REDACT", 2, [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_redact(c, m); },
          true},
    Route{"RENAME", 2,
          [](ReduceContext& c, const IrcMessage& m, std::string_view) {
              return reduce_rename(c.model, c.isupport, m.params);
          },
          false},
    Route{"TAGMSG", 1, nullptr, true, reduce_chat_message_into},
    Route{"TOPIC", 1, [](ReduceContext& c, const IrcMessage& m, std::string_view) { return reduce_topic(c, m); },
          false},
};

constexpr bool routes_sorted() {
    for (std::size_t i = 1; i < kRoutes.size(); ++i)
        if (!(kRoutes[i - 1].word < kRoutes[i].word)) return false;
    return true;
}
static_assert(routes_sorted(), "kRoutes must stay sorted by word");

constexpr auto kRouteNumbers = [] {
    std::array<std::uint64_t, kRoutes.size()> numbers{};
    for (std::size_t i = 0; i < kRoutes.size(); ++i) numbers[i] = word_number(kRoutes[i].word);
    return numbers;
}();
static_assert(std::is_sorted(kRouteNumbers.begin(), kRouteNumbers.end()));

}  // namespace

std::vector<Change> reduce_message(ReduceContext& ctx, const IrcMessage& message) {
    std::vector<Change> out;
    reduce_message_into(ctx, message, out);
    return out;
}

void reduce_message_into(ReduceContext& ctx, const IrcMessage& message, std::vector<Change>& out) {
    out.clear();
    const std::string& command = message.command;
    if (command.size() < 3 || command.size() > 8) return;
    const std::uint64_t number = upper_word_number(command);
    const auto found = std::lower_bound(kRouteNumbers.begin(), kRouteNumbers.end(), number);
    if (found == kRouteNumbers.end() || *found != number) return;
    const Route* route = &kRoutes[static_cast<std::size_t>(found - kRouteNumbers.begin())];
    if (route->word.size() != command.size()) return;
    const std::string_view word = route->word;  // the word in upper case, as the handlers take it
    if (ctx.historical && !route->replayed) return;
    if (message.params.size() < route->min_params) return;
    const Model::UpdateScope scope(ctx.model);
    if (route->append != nullptr)
        route->append(ctx, message, word, out);
    else
        out = route->handler(ctx, message, word);
}

}  // namespace tessel
