// The nick to try next when the server refuses one during registration, and what one
// registration's refusals have shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

// Generated nicks tried per registration once the configured alternatives are used up; after
// that the link waits for the server to close it.
inline constexpr std::uint32_t kMaxFallbackTries = 16;

using FoldedNicks = std::set<std::string, std::less<>>;

// One registration's state; every new link starts a fresh one from the configured nick.
struct NickFallback {
    std::string sent;  // the nick most recently sent on this link
    std::string stem;  // the configured nick that generated ones are made from
    bool sent_generated = false;
    FoldedNicks refused;                 // every nick refused on this link
    std::optional<std::size_t> max_len;  // the longest nick the refusals showed the server keeps
    std::uint32_t tries = 0;             // generated nicks sent
    bool given_up = false;  // no more tries on this link: none left, or the host sent a nick
};

// What a registration starts from: `nick` sent, nothing refused yet.
NickFallback fresh_nick_fallback(std::string_view nick);

// Records that the server refused `refused` in answer to `state.sent`. A refused nick that is
// ours cut short shows the server's length limit, and so does an erroneous-nick answer to a
// nick we lengthened.
void note_nick_refusal(NickFallback& state, CaseMapping mapping, std::string_view refused, bool erroneous);

// The first of `stem` with each fallback suffix, the stem cut so that the whole keeps within
// `max_len`, that is not in `refused`; nothing when none is left.
std::optional<std::string> fallback_nick(std::string_view stem, std::optional<std::size_t> max_len,
                                         CaseMapping mapping, const FoldedNicks& refused);

}  // namespace tessel
