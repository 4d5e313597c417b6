#include <gtest/gtest.h>

#include "tessel_client/protocol/mode_changes.hpp"

namespace tessel {
namespace {

using Params = std::vector<std::string>;
using Changes = std::vector<ModeChange>;
constexpr auto none = std::nullopt;

TEST(ModeChanges, DefaultIsupport) {
    struct Case {
        Params params;
        Changes changes;
    };
    const Case cases[] = {
        {{"+ov", "a", "b"}, {{"a", U'o', true, true}, {"b", U'v', true, true}}},
        {{"+l-l", "10"}, {{"10", U'l', true, false}, {none, U'l', false, false}}},
        {{"-k", "key"}, {{"key", U'k', false, false}}},
        {{"+b"}, {{none, U'b', true, false}}},
        {{"+mz", "extra"}, {{none, U'm', true, false}, {none, U'z', true, false}}},
        {{"ov", "a", "b"}, {{"a", U'o', true, true}, {"b", U'v', true, true}}},
        {{"++--+i"}, {{none, U'i', true, false}}},
        {{"-o+b-v", "a", "*!*@h"}, {{"a", U'o', false, true}, {"*!*@h", U'b', true, false}, {none, U'v', false, true}}},
        {{""}, {}},
        {{}, {}},
    };
    const Isupport is;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params.empty() ? "(none)" : c.params[0]);
        EXPECT_EQ(parse_mode_changes(is, c.params), c.changes);
    }
}

TEST(ModeChanges, FollowsIsupport) {
    Isupport is;
    apply_isupport_token(is, "PREFIX=(qov)~@+");
    apply_isupport_token(is, "CHANMODES=beI,ké,lj,imnt");
    const Changes expected{
        {"n", U'q', true, true}, {"m", U'I', true, false}, {"x", U'é', true, false}, {"3", U'j', true, false},
        {none, U'j', false, false}, {none, U'b', false, false},
    };
    EXPECT_EQ(parse_mode_changes(is, {"+qIéj-jb", "n", "m", "x", "3"}), expected);
}

TEST(ModeChanges, Letters) {
    const Changes expected{{none, U'i', true, false}, {none, U'w', true, false}, {none, U'x', false, false}};
    EXPECT_EQ(parse_mode_letters("+iw-x"), expected);
    EXPECT_EQ(parse_mode_letters("o"), (Changes{{none, U'o', true, false}}));
    EXPECT_TRUE(parse_mode_letters("+-").empty());
}

}  // namespace
}  // namespace tessel
