#include "tessel_client/engine/cap_state.hpp"

#include <algorithm>

#include "tessel_client/model/words.hpp"

namespace tessel {

namespace {

struct NameValue {
    std::string_view name;
    std::optional<std::string_view> value;
};

NameValue split_offer(std::string_view word) {
    std::size_t eq = word.find('=');
    if (eq == std::string_view::npos) return {word, std::nullopt};
    return {word.substr(0, eq), word.substr(eq + 1)};
}

std::optional<std::string> owned(std::optional<std::string_view> v) {
    if (!v) return std::nullopt;
    return std::string(*v);
}

void forget_request(std::vector<std::string>& requested, std::string_view name) {
    std::erase_if(requested, [&](const std::string& r) { return r == name; });
}

}  // namespace

void CapState::offer(std::string_view list) {
    for (std::string_view word : split_white_space(list)) {
        NameValue nv = split_offer(word);
        available.insert_or_assign(std::string(nv.name), owned(nv.value));
    }
}

std::vector<std::string> CapState::ack(std::string_view list) {
    std::vector<std::string> result;
    for (std::string_view word : split_white_space(list)) {
        if (word.front() == '-') {
            std::string_view name = word.substr(1);
            if (auto it = enabled.find(name); it != enabled.end()) enabled.erase(it);
            forget_request(requested, name);
            continue;
        }
        NameValue nv = split_offer(word);
        std::optional<std::string> value;
        if (nv.value) {
            value = std::string(*nv.value);
        } else if (auto it = available.find(nv.name); it != available.end()) {
            value = it->second;
        }
        enabled.insert_or_assign(std::string(nv.name), std::move(value));
        forget_request(requested, nv.name);
        result.emplace_back(nv.name);
    }
    return result;
}

void CapState::nak(std::string_view list) {
    for (std::string_view word : split_white_space(list)) forget_request(requested, split_offer(word).name);
}

void CapState::del(std::string_view list) {
    for (std::string_view word : split_white_space(list)) {
        std::string_view name = split_offer(word).name;
        if (auto it = available.find(name); it != available.end()) available.erase(it);
        if (auto it = enabled.find(name); it != enabled.end()) enabled.erase(it);
    }
}

std::vector<std::string> CapState::wanted() const {
    std::vector<std::string> names;
    for (std::string_view name : WANTED_CAPS) {
        if (available.find(name) == available.end() || enabled.find(name) != enabled.end()) continue;
        if (std::find(requested.begin(), requested.end(), name) != requested.end()) continue;
        names.emplace_back(name);
    }
    return names;
}

}  // namespace tessel
