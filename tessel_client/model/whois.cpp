#include "tessel_client/model/whois.hpp"

#include <limits>

#include "tessel_client/model/words.hpp"

namespace tessel {

namespace {

// Decimal digits with an optional leading "+", within 64 bits.
std::optional<std::uint64_t> parse_number(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::string> param(const std::vector<std::string>& params, std::size_t number) {
    // Numbered from 1, as the replies are described.
    if (params.size() < number) return std::nullopt;
    return params[number - 1];
}

}  // namespace

WhoisRecord& Model::whois_entry(std::string key, std::string_view nick) {
    if (whois.size() >= kMaxWhois && !whois.contains(key)) {
        auto victim = whois.begin();
        for (auto it = whois.begin(); it != whois.end(); ++it) {
            if (it->second.complete) {
                victim = it;
                break;
            }
        }
        const std::string victim_key = victim->first;
        whois.erase(victim);
        --index_.whois;
        mark_candidate(victim_key);
    }
    auto [it, inserted] = whois.try_emplace(std::move(key));
    if (inserted) {
        ++index_.whois;
        mark_candidate(it->first);
    }
    WhoisRecord& record = it->second;
    if (record.complete || record.nick.empty()) {
        record = WhoisRecord{};
        record.nick = std::string(nick);
    }
    return record;
}

std::vector<Change> reduce_whois_reply(Model& model, const Isupport& isupport, const std::vector<std::string>& params,
                                       std::string_view numeric) {
    if (params.size() < 2) return {};
    const std::string& nick = params[1];
    std::string key = irc_fold(isupport.casemapping, nick);
    if (numeric == "318") {
        auto it = model.whois.find(key);
        if (it == model.whois.end()) return {};
        it->second.complete = true;
        std::vector<Change> out;
        out.push_back(Change{Change::WhoisReceived{nick}});
        return out;
    }
    WhoisRecord& record = model.whois_entry(std::move(key), nick);
    const std::string& last = params.back();
    if (numeric == "311") {
        record.username = param(params, 3);
        record.host = param(params, 4);
        record.realname = last;
    } else if (numeric == "312") {
        record.server = param(params, 3);
        record.server_info = last;
    } else if (numeric == "313") {
        record.operator_ = last;
    } else if (numeric == "317") {
        record.idle_secs.reset();
        record.signon_ms.reset();
        if (params.size() > 2) {
            record.idle_secs = parse_number(params[2]);
            if (params.size() > 3) {
                if (auto secs = parse_number(params[3])) {
                    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
                    record.signon_ms = *secs > kMax / 1000 ? kMax : *secs * 1000;
                }
            }
        }
    } else if (numeric == "319") {
        record.channels.clear();
        if (params.size() > 2)
            for (std::string_view piece : split_white_space(params[2])) record.channels.emplace_back(piece);
    } else if (numeric == "330") {
        record.account = param(params, 3);
    } else if (numeric == "338" || numeric == "378") {
        record.actual_host = params.size() >= 4 ? params[2] : last;
    } else if (numeric == "671") {
        record.secure = true;
    }
    return {};
}

}  // namespace tessel
