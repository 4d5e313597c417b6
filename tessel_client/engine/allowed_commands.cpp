#include "tessel_client/engine/allowed_commands.hpp"

#include <string_view>

#include "tessel_client/engine/ascii.hpp"
#include "tessel_client/protocol/unicode_props.hpp"
#include "tessel_client/protocol/utf8.hpp"

namespace tessel {
namespace {

void apply_word(AllowedCommands& allowed, std::string_view word) {
    const char sign = word.front();
    if (sign != '+' && sign != '-') return;
    std::string name = ascii_uppercase(word.substr(1));
    if (sign == '+') {
        allowed.insert(std::move(name));
    } else if (auto it = allowed.find(name); it != allowed.end()) {
        allowed.erase(it);
    }
}

}  // namespace

void apply_cmdslist(AllowedCommands& allowed, const IrcMessage& message) {
    for (const std::string& param : message.params) {
        const std::string_view text = param;
        std::size_t start = 0;
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t at = pos;
            if (is_white_space(utf8_next_lossy(text, pos))) {
                if (at > start) apply_word(allowed, text.substr(start, at - start));
                start = pos;
            }
        }
        if (text.size() > start) apply_word(allowed, text.substr(start));
    }
}

}  // namespace tessel
