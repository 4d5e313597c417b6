// AWAY, ACCOUNT, METADATA (and 760, 761, 766) and RENAME.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/protocol/isupport.hpp"
#include "tessel_client/protocol/message.hpp"

namespace tessel {

std::vector<Change> reduce_away(Model& model, const Isupport& isupport, const IrcMessage& message);
std::vector<Change> reduce_account(Model& model, const Isupport& isupport, const IrcMessage& message);
// `target_index`: 0 for METADATA, 1 for the numerics (their first parameter is the own nick).
std::vector<Change> reduce_metadata(Model& model, const Isupport& isupport, const IrcMessage& message,
                                    std::size_t target_index);
std::vector<Change> reduce_rename(Model& model, const Isupport& isupport, const std::vector<std::string>& params);

// A present value is stored under the key, an absent one removes it.
void set_or_remove(const std::optional<std::string>& value, std::string_view key, TextMap& map);
void set_or_remove(const std::optional<std::string>& value, std::string_view key, LazyMap<TextMap>& map);

}  // namespace tessel
