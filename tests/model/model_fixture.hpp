// Shared set-up for the model tests: a model, the ISUPPORT state and a clock, fed with lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_client/model/change.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/model/reducer.hpp"
#include "tessel_client/protocol/isupport.hpp"
#include "tessel_client/protocol/message.hpp"

namespace tessel::test {

inline Change added(std::string target, std::uint64_t time_ms, std::uint64_t seq) {
    return Change{Change::MessageAdded{std::move(target), MessageKey{time_ms, seq}}};
}
inline Change joined(std::string c) { return Change{Change::ChannelJoined{std::move(c)}}; }
inline Change parted(std::string c) { return Change{Change::ChannelParted{std::move(c)}}; }
inline Change members(std::string c) { return Change{Change::ChannelMembersChanged{std::move(c)}}; }
inline Change topic(std::string c) { return Change{Change::ChannelTopicChanged{std::move(c)}}; }
inline Change nick(std::string from, std::string to) {
    return Change{Change::NickChanged{std::move(from), std::move(to)}};
}
inline Change modes(std::string c) { return Change{Change::ChannelModesChanged{std::move(c)}}; }
inline Change marker(std::string t) { return Change{Change::ReadMarkerMoved{std::move(t)}}; }
inline Change reacted(std::string t, std::string id) {
    return Change{Change::MessageReacted{std::move(t), std::move(id)}};
}
inline Change redacted(std::string t, std::string id) {
    return Change{Change::MessageRedacted{std::move(t), std::move(id)}};
}
inline Change metadata(std::string t, std::string k) {
    return Change{Change::MetadataChanged{std::move(t), std::move(k)}};
}
inline Change whois(std::string n) { return Change{Change::WhoisReceived{std::move(n)}}; }
inline Change renamed(std::string from, std::string to) {
    return Change{Change::ChannelRenamed{std::move(from), std::move(to)}};
}

using Changes = std::vector<Change>;

class ModelTest : public ::testing::Test {
protected:
    Model model = Model::make("me", 5000);
    Isupport isupport;
    std::uint64_t unix_ms = 1'000'000;

    Changes feed(std::string_view line, bool historical = false) {
        auto message = parse_line(line);
        EXPECT_TRUE(message.has_value()) << line;
        if (!message) return {};
        ReduceContext ctx{model, isupport, unix_ms, historical};
        return reduce_message(ctx, *message);
    }

    // Feeds lines whose changes are not under test.
    void setup(std::initializer_list<std::string_view> lines) {
        for (std::string_view line : lines) feed(line);
    }

    Channel& chan(std::string_view key) {
        auto it = model.channels.find(key);
        EXPECT_NE(it, model.channels.end()) << key;
        return it->second;
    }
    Conversation& conv(std::string_view key) {
        auto it = model.conversations.find(key);
        EXPECT_NE(it, model.conversations.end()) << key;
        return it->second;
    }
    std::vector<std::string> member_keys(std::string_view channel) {
        std::vector<std::string> keys;
        for (const auto& [k, m] : chan(channel).members) keys.push_back(k);
        return keys;
    }
    std::vector<std::string> people_keys() const {
        std::vector<std::string> keys;
        for (const auto& [k, p] : model.people) keys.push_back(k);
        return keys;
    }
};

}  // namespace tessel::test
