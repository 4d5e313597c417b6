#include "tessel_client/model/words.hpp"

#include "tessel_client/protocol/unicode_props.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {

std::vector<std::string_view> split_white_space(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    std::size_t start = 0;
    while (pos < text.size()) {
        const std::size_t at = pos;
        std::optional<char32_t> c = utf8_next(text, pos);
        if (!c) {
            ++pos;  // a stray byte is part of a word
            continue;
        }
        if (is_white_space(*c)) {
            if (at > start) words.push_back(text.substr(start, at - start));
            start = pos;
        }
    }
    if (pos > start) words.push_back(text.substr(start));
    return words;
}

}  // namespace tessel
