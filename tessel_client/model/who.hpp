// NAMES (353), WHO (352) and WHOX (354) replies.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/protocol/isupport.hpp"

namespace tessel {

// One row of either WHO form.
struct WhoRow {
    std::string channel;
    std::string nick;
    std::string username;
    std::string host;
    std::string flags;
    // Absent: unknown (plain WHO). Holds none: not logged in. Holds text: the account.
    std::optional<std::optional<std::string>> account;
    std::optional<std::string> realname;  // absent: unknown
    bool operator==(const WhoRow&) const = default;
};

std::vector<Change> reduce_names_reply(Model& model, const Isupport& isupport, const std::vector<std::string>& params);
std::vector<Change> reduce_who_reply(Model& model, const Isupport& isupport, const std::vector<std::string>& params);
std::vector<Change> reduce_whox_reply(Model& model, const Isupport& isupport, const std::vector<std::string>& params);
std::vector<Change> reduce_who_entry(Model& model, const Isupport& isupport, const WhoRow& row);

}  // namespace tessel
