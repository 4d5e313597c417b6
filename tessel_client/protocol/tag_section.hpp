// The tag section of a received line, read in the same scan that finds where it ends.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "tessel_client/protocol/message.hpp"

namespace tessel {

// Reads the tags from `from` up to the first space of `line` into `tags` (overwritten whole,
// as parse_tags_into does) and returns the position of that space, or line.size() when there
// is none.
std::size_t parse_tag_section(std::string_view line, std::size_t from, std::vector<Tag>& tags);

}  // namespace tessel
