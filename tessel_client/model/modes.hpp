// MODE (channel and user modes, member status) and named modes (PROP, 961).
#pragma once

#include <string>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/protocol/isupport.hpp"

namespace tessel {

std::vector<Change> reduce_mode(Model& model, const Isupport& isupport, const std::vector<std::string>& params);

// Adds the status symbol once and keeps `prefixes` in the rank order of `prefix_symbols`
// (symbols not listed there come last, in their previous order).
void add_prefix_symbol(std::string& prefixes, char32_t symbol, const std::vector<char32_t>& prefix_modes,
                       const std::vector<char32_t>& prefix_symbols);

// 961: <own nick> <channel> <items...>, items split at white space.
std::vector<Change> reduce_prop_list(Model& model, const Isupport& isupport, const std::vector<std::string>& params);

}  // namespace tessel
