#include <gtest/gtest.h>

#include "tessel_client/protocol/ctcp.hpp"

namespace tessel {
namespace {

TEST(Ctcp, Splits) {
    struct Case {
        std::string text;
        std::optional<Ctcp> ctcp;
    };
    const Case cases[] = {
        {"\x01" "ACTION waves\x01", Ctcp{"ACTION", "waves"}},
        {"\x01VERSION\x01", Ctcp{"VERSION", ""}},
        {"\x01" "ACTION waves", Ctcp{"ACTION", "waves"}},
        {"\x01", Ctcp{"", ""}},
        {"\x01\x01", Ctcp{"", ""}},
        {"\x01" "ACTION  x\x01", Ctcp{"ACTION", " x"}},
        {"\x01" "action a\x01 b\x01", Ctcp{"action", "a\x01 b"}},
        {"hello", std::nullopt},
        {" \x01VERSION\x01", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_ctcp(c.text), c.ctcp) << c.text;
    }
}

}  // namespace
}  // namespace tessel
