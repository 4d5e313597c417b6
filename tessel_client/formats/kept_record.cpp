#include "tessel_client/formats/kept_record.hpp"

#include <algorithm>

namespace tessel {

std::string describe(const JsonContent& value) {
    std::string out;
    describe_content(value, out);
    return out;
}

namespace {

bool read_content_tag(JsonContent& tag, std::span<const std::string_view> words, bool allow_index,
                      std::size_t& variant, std::string& error) {
    if (const auto* word = std::get_if<std::string>(&tag.value)) {
        const auto it = std::find(words.begin(), words.end(), *word);
        if (it == words.end()) {
            error = unknown_variant(*word, words);
            return false;
        }
        variant = static_cast<std::size_t>(it - words.begin());
        return true;
    }
    if (const auto* index = std::get_if<std::uint64_t>(&tag.value); index != nullptr && allow_index) {
        if (*index >= words.size()) {
            error = invalid_value(describe(tag), "variant index 0 <= i < " + std::to_string(words.size()));
            return false;
        }
        variant = static_cast<std::size_t>(*index);
        return true;
    }
    error = invalid_type(describe(tag), "variant identifier");
    return false;
}

}  // namespace

bool split_tagged_content(JsonContent& value, std::string_view expecting, std::string_view tag_key,
                          std::span<const std::string_view> words, bool allow_index, std::size_t& variant,
                          JsonContent& kept, std::string& error) {
    if (auto* members = std::get_if<JsonContent::Object>(&value.value)) {
        auto& rest = kept.value.emplace<JsonContent::Object>();
        bool have_tag = false;
        for (auto& member : *members) {
            if (member.first != tag_key) {
                rest.push_back(std::move(member));
                continue;
            }
            if (have_tag) {
                error = duplicate_field(tag_key);
                return false;
            }
            if (!read_content_tag(member.second, words, allow_index, variant, error)) return false;
            have_tag = true;
        }
        if (!have_tag) {
            error = missing_field(tag_key);
            return false;
        }
        return true;
    }
    if (auto* items = std::get_if<JsonContent::Array>(&value.value)) {
        if (items->empty()) {
            error = missing_field(tag_key);
            return false;
        }
        if (!read_content_tag(items->front(), words, allow_index, variant, error)) return false;
        auto& rest = kept.value.emplace<JsonContent::Array>();
        rest.reserve(items->size() - 1);
        for (std::size_t i = 1; i < items->size(); ++i) rest.push_back(std::move((*items)[i]));
        return true;
    }
    error = invalid_type(describe(value), expecting);
    return false;
}

bool read_content_string(JsonContent& value, std::string& out, std::string& error) {
    auto* s = std::get_if<std::string>(&value.value);
    if (s == nullptr) {
        error = invalid_type(describe(value), "a string");
        return false;
    }
    out = std::move(*s);
    return true;
}

bool read_content_optional_string(JsonContent& value, std::optional<std::string>& out, std::string& error) {
    if (value.is_null()) {
        out.reset();
        return true;
    }
    std::string s;
    if (!read_content_string(value, s, error)) return false;
    out = std::move(s);
    return true;
}

bool read_content_strings(JsonContent& value, std::vector<std::string>& out, std::string& error) {
    auto* items = std::get_if<JsonContent::Array>(&value.value);
    if (items == nullptr) {
        error = invalid_type(describe(value), "a sequence");
        return false;
    }
    out.clear();
    out.reserve(items->size());
    for (auto& item : *items) {
        out.emplace_back();
        if (!read_content_string(item, out.back(), error)) return false;
    }
    return true;
}

bool read_content_unsigned(JsonContent& value, std::uint64_t max, std::string_view expected,
                           std::uint64_t& out, std::string& error) {
    if (const auto* u = std::get_if<std::uint64_t>(&value.value)) {
        if (*u <= max) {
            out = *u;
            return true;
        }
        error = invalid_value(describe(value), expected);
        return false;
    }
    if (std::holds_alternative<std::int64_t>(value.value)) {
        error = invalid_value(describe(value), expected);
        return false;
    }
    error = invalid_type(describe(value), expected);
    return false;
}

bool read_content_word(JsonContent& value, std::span<const std::string_view> words, std::size_t& index,
                       std::string& error) {
    const std::string* word = nullptr;
    JsonContent* payload = nullptr;
    if (auto* s = std::get_if<std::string>(&value.value)) {
        word = s;
    } else if (auto* members = std::get_if<JsonContent::Object>(&value.value)) {
        if (members->size() != 1) {
            error = "invalid value: map, expected map with a single key";
            return false;
        }
        word = &members->front().first;
        payload = &members->front().second;
    } else {
        error = invalid_type(describe(value), "string or map");
        return false;
    }
    const auto it = std::find(words.begin(), words.end(), *word);
    if (it == words.end()) {
        error = unknown_variant(*word, words);
        return false;
    }
    if (payload != nullptr && !payload->is_null()) {
        const auto* inner = std::get_if<JsonContent::Object>(&payload->value);
        if (inner == nullptr || !inner->empty()) {
            error = invalid_type(describe(*payload), "unit");
            return false;
        }
    }
    index = static_cast<std::size_t>(it - words.begin());
    return true;
}

}  // namespace tessel
