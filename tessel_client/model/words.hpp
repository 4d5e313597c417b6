// Splitting reply texts into words at Unicode white space.
#pragma once

#include <string_view>
#include <vector>

namespace tessel {

// Pieces of `text` between runs of White_Space characters; empty pieces are dropped.
// Views into `text`.
std::vector<std::string_view> split_white_space(std::string_view text);

}  // namespace tessel
