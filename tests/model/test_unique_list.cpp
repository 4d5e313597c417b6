#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tessel_client/model/unique_list.hpp"

namespace tessel {
namespace {

using Items = std::vector<std::string>;

Items items_of(const UniqueList& list) { return Items(list.begin(), list.end()); }

// Each row is a run of operations: "+x" inserts x, "-x" erases it. The list must keep every
// item once, in the order of its latest arrival, on both sides of the size where the index
// starts and stops being kept.
TEST(UniqueList, KeepsFirstArrivalOrderOnceEach) {
    struct Case {
        const char* name;
        Items ops;
        Items expected;
    };
    const Case cases[] = {
        {"repeats are dropped", {"+a", "+b", "+a", "+c", "+b"}, {"a", "b", "c"}},
        {"erase keeps the others' order", {"+a", "+b", "+c", "-b"}, {"a", "c"}},
        {"back after erase goes last", {"+a", "+b", "+c", "-a", "+a"}, {"b", "c", "a"}},
        {"erase of an absent item", {"+a", "-z", "-a", "-a"}, {}},
        {"empty string is an item", {"+", "+a", "+", "-a"}, {""}},
        {"past the index size",
         {"+9", "+8", "+7", "+6", "+5", "+4", "+3", "+2", "+1", "+0", "+5", "+9", "+0"},
         {"9", "8", "7", "6", "5", "4", "3", "2", "1", "0"}},
        {"down through the index size and up again",
         {"+a", "+b", "+c", "+d", "+e", "+f", "+g", "+h", "+i", "+j", "-a", "-j", "-e", "+a", "+e", "+a", "-c"},
         {"b", "d", "f", "g", "h", "i", "a", "e"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UniqueList list;
        for (const std::string& op : c.ops) {
            const std::string item = op.substr(1);
            if (op[0] == '+')
                list.insert(item);
            else
                list.erase(item);
        }
        EXPECT_EQ(items_of(list), c.expected);
        EXPECT_EQ(list.size(), c.expected.size());
        for (const std::string& item : c.expected) EXPECT_TRUE(list.contains(item)) << item;
    }
}

// Against a plain vector searched from end to end, over sizes that cross the index size many
// times: same answers, same order.
TEST(UniqueList, AgreesWithAPlainListSearch) {
    std::mt19937 random(7);
    UniqueList list;
    Items plain;
    for (int step = 0; step < 20000; ++step) {
        const std::string item = "n" + std::to_string(random() % 24);
        const bool held = std::find(plain.begin(), plain.end(), item) != plain.end();
        if (random() % 2) {
            ASSERT_EQ(list.insert(item), !held) << "step " << step;
            if (!held) plain.push_back(item);
        } else {
            ASSERT_EQ(list.erase(item), held) << "step " << step;
            std::erase(plain, item);
        }
        ASSERT_EQ(items_of(list), plain) << "step " << step;
    }
}

// A copy answers lookups of its own; the original is left as it was.
TEST(UniqueList, CopiesAndMovesKeepTheirLookups) {
    UniqueList list;
    for (int i = 0; i < 20; ++i) list.insert(std::to_string(i));
    UniqueList copy = list;
    EXPECT_TRUE(copy.erase("3"));
    EXPECT_FALSE(copy.insert("4"));
    EXPECT_TRUE(list.contains("3"));
    EXPECT_EQ(list.size(), 20u);
    EXPECT_EQ(copy.size(), 19u);

    UniqueList moved = std::move(copy);
    EXPECT_TRUE(moved.erase("19"));
    EXPECT_FALSE(moved.contains("3"));
    EXPECT_TRUE(moved.insert("3"));
    EXPECT_EQ(items_of(moved).back(), "3");

    copy = moved;
    EXPECT_EQ(copy, moved);
    EXPECT_FALSE(copy == list);
}

}  // namespace
}  // namespace tessel
