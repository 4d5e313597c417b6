#include "tessel_client/engine/nick_fallback.hpp"

#include <algorithm>
#include <array>

namespace tessel {
namespace {

// Short, so that a generated nick stays close to the configured one.
constexpr std::array<std::string_view, 16> kSuffixes{"_",  "__", "1",  "2",  "3",  "4",  "5",  "6",
                                                     "7",  "8",  "9",  "_1", "_2", "_3", "_4", "_5"};

void lower_limit(std::optional<std::size_t>& limit, std::size_t len) {
    limit = limit ? std::min(*limit, len) : len;
}

bool utf8_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

NickFallback fresh_nick_fallback(std::string_view nick) {
    NickFallback state;
    state.sent = nick;
    state.stem = nick;
    return state;
}

void note_nick_refusal(NickFallback& state, CaseMapping mapping, std::string_view refused, bool erroneous) {
    std::string ours = irc_fold(mapping, state.sent);
    std::string theirs = irc_fold(mapping, refused);
    if (!theirs.empty() && theirs.size() < ours.size() && ours.starts_with(theirs))
        lower_limit(state.max_len, theirs.size());
    else if (erroneous && state.sent_generated && theirs == ours && ours.size() > 1)
        lower_limit(state.max_len, ours.size() - 1);
    state.refused.insert(std::move(ours));
    state.refused.insert(std::move(theirs));
}

std::optional<std::string> fallback_nick(std::string_view stem, std::optional<std::size_t> max_len,
                                         CaseMapping mapping, const FoldedNicks& refused) {
    for (std::string_view suffix : kSuffixes) {
        std::size_t keep = stem.size();
        if (max_len) {
            if (*max_len <= suffix.size()) continue;
            keep = std::min(keep, *max_len - suffix.size());
        }
        while (keep > 0 && keep < stem.size() && utf8_continuation(stem[keep])) --keep;
        if (keep == 0) continue;  // a nick needs its own first character, not a suffix's
        std::string nick(stem.substr(0, keep));
        nick += suffix;
        if (!refused.contains(irc_fold(mapping, nick))) return nick;
    }
    return std::nullopt;
}

}  // namespace tessel
