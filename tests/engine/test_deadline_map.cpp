#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tessel_client/engine/deadline_map.hpp"
#include "tessel_client/engine/pending_label.hpp"

namespace tessel {
namespace {

using Due = std::vector<std::pair<std::string, std::uint64_t>>;

// What is due, as a walk of the whole map finds it: in key order, then stably by deadline.
Due due_by_walk(std::map<std::string, std::uint64_t>& plain, std::uint64_t now) {
    Due due;
    for (auto it = plain.begin(); it != plain.end();) {
        if (it->second <= now) {
            due.emplace_back(*it);
            it = plain.erase(it);
        } else {
            ++it;
        }
    }
    std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    return due;
}

// Arming, re-arming, disarming and firing in a random mix, with few distinct deadlines so that
// ties are common and a clock that sometimes goes back: the same entries fall due in the same
// order as a full walk gives them, and the earliest deadline is the walk's smallest.
TEST(DeadlineMap, FiresAsAWalkOfEveryEntryWould) {
    std::mt19937 random(11);
    DeadlineMap<std::string, std::uint64_t> map;
    std::map<std::string, std::uint64_t> plain;
    std::uint64_t now = 100;
    for (int step = 0; step < 20000; ++step) {
        const std::string key = "k" + std::to_string(random() % 40);
        switch (random() % 6) {
            case 0:
            case 1:
            case 2: {
                const std::uint64_t deadline = now + random() % 8;
                map.insert_or_assign(key, deadline);
                plain[key] = deadline;
                break;
            }
            case 3:
                ASSERT_EQ(map.erase(key), plain.erase(key) == 1) << "step " << step;
                break;
            case 4:
                if (auto at = map.find(key); at != map.end()) {
                    map.update(at, [](std::uint64_t& deadline) { deadline += 3; });
                    plain[key] += 3;
                }
                break;
            default: {
                now = random() % 10 == 0 ? now - 2 : now + random() % 4;
                auto expected = due_by_walk(plain, now);
                ASSERT_EQ(map.take_due(now), expected) << "step " << step;
            }
        }
        ASSERT_EQ(map.size(), plain.size()) << "step " << step;
        std::optional<std::uint64_t> earliest;
        for (const auto& [k, deadline] : plain)
            if (!earliest || deadline < *earliest) earliest = deadline;
        ASSERT_EQ(map.earliest(), earliest) << "step " << step;
    }
}

// A value with a deadline field: changing another field keeps its place, changing the deadline
// moves it, and a copy is ordered on its own.
TEST(DeadlineMap, OrdersRecordsByTheirDeadlineField) {
    DeadlineMap<std::string, PendingLabel> map;
    map.insert_or_assign("l2", PendingLabel{"B", std::nullopt, 50});
    map.insert_or_assign("l10", PendingLabel{"A", std::nullopt, 50});
    map.insert_or_assign("l3", PendingLabel{"C", std::nullopt, 10});
    map.update(map.find("l3"), [](PendingLabel& p) { p.batch = "b1"; });
    EXPECT_EQ(map.earliest(), 10u);

    DeadlineMap<std::string, PendingLabel> copy = map;
    map.update(map.find("l3"), [](PendingLabel& p) { p.deadline = 60; });
    EXPECT_EQ(map.earliest(), 50u);
    EXPECT_EQ(copy.earliest(), 10u);

    std::vector<std::string> order;
    for (auto& [label, request] : map.take_due(60)) order.push_back(label + request.command);
    EXPECT_EQ(order, (std::vector<std::string>{"l10A", "l2B", "l3C"}));  // label byte order among ties
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(copy.size(), 3u);
    EXPECT_EQ(copy.at("l3").batch, "b1");
    EXPECT_EQ(copy.take_due(10).size(), 1u);
}

}  // namespace
}  // namespace tessel
