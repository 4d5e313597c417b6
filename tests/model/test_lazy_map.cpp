#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tessel_client/model/lazy_map.hpp"

namespace tessel {
namespace {

using Plain = std::map<std::string, std::vector<std::string>, std::less<>>;

// Filled, emptied and copied, it reads like the map it stands for; emptied again, it equals a
// map that was never filled.
TEST(LazyMap, ReadsLikeItsMapThroughFillingAndEmptying) {
    LazyMap<Plain> map;
    EXPECT_TRUE(map.empty());
    EXPECT_TRUE(map.begin() == map.end());
    EXPECT_TRUE(map.find("x") == map.end());
    EXPECT_EQ(map, Plain{});

    map["b"].push_back("bob");
    map["a"].push_back("al");
    const LazyMap<Plain> copy = map;
    EXPECT_EQ(copy, (Plain{{"a", {"al"}}, {"b", {"bob"}}}));
    EXPECT_EQ(copy.at("b"), std::vector<std::string>{"bob"});
    EXPECT_THROW(copy.at("c"), std::out_of_range);

    map.erase(map.find("a"));
    map.erase(map.find("b"));
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(map, LazyMap<Plain>{});
    EXPECT_EQ(copy.size(), 2u);  // the copy kept its own entries
}

}  // namespace
}  // namespace tessel
