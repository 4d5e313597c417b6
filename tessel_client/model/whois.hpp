// The WHOIS reply numerics.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/protocol/isupport.hpp"

namespace tessel {

// `numeric`: one of 311, 312, 313, 317, 318, 319, 330, 338, 378, 671.
std::vector<Change> reduce_whois_reply(Model& model, const Isupport& isupport, const std::vector<std::string>& params,
                                       std::string_view numeric);

}  // namespace tessel
