// The server's ISUPPORT (005) state and the questions other code asks of it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {

struct IsupportChange {
    std::string token;
    std::optional<std::string> value;
    bool removed = false;
    bool operator==(const IsupportChange&) const = default;
};

struct Isupport {
    std::vector<char32_t> prefix_modes{U'o', U'v'};
    std::vector<char32_t> prefix_symbols{U'@', U'+'};
    std::string chanmodes_a = "b";
    std::string chanmodes_b = "k";
    std::string chanmodes_c = "l";
    std::string chanmodes_d = "imnpst";
    std::string chantypes;
    std::string statusmsg;
    std::map<std::string, std::optional<std::string>, std::less<>> tokens;
    CaseMapping casemapping = CaseMapping::Rfc1459;

    void update_derived(std::string_view name, const std::optional<std::string>& value);
    std::optional<std::uint32_t> number(std::string_view name) const;
    bool is_channel(std::string_view name) const;
    bool is_statusmsg_char(char32_t c) const;
    bool is_prefix_mode(char32_t c) const;
};

IsupportChange apply_isupport_token(Isupport& isupport, std::string_view token);
std::string unescape_isupport_value(std::string_view text);
std::optional<std::pair<std::vector<char32_t>, std::vector<char32_t>>> parse_prefix_token(std::string_view value);

struct ChanModeClasses {
    std::string a, b, c, d;
};
ChanModeClasses split_chanmodes(std::string_view value);
std::pair<std::vector<char32_t>, std::vector<char32_t>> default_prefix();
ChanModeClasses default_chanmodes();

struct MemberPrefixes {
    std::string_view prefixes;
    std::string_view nick;
};
// Both parts view into `entry`.
MemberPrefixes split_member_prefixes(const Isupport& isupport, std::string_view entry);

}  // namespace tessel
