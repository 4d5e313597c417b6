#include "model_fixture.hpp"
#include "tessel_client/model/modes.hpp"

namespace tessel::test {
namespace {

class Modes : public ModelTest {
protected:
    void SetUp() override { setup({":me!u@h JOIN #a", ":x 353 me = #a :bob +carol"}); }
    std::string prefixes(std::string_view nick) { return chan("#a").members.at(std::string(nick)).prefixes; }
};

TEST_F(Modes, MemberStatus) {
    EXPECT_EQ(feed(":op!u@h MODE #A +o bob"), (Changes{modes("#A"), members("#A")}));
    EXPECT_EQ(prefixes("bob"), "@");
    EXPECT_EQ(feed(":op!u@h MODE #a +o Carol"), (Changes{modes("#a"), members("#a")}));
    EXPECT_EQ(prefixes("carol"), "@+");
    EXPECT_EQ(feed(":op!u@h MODE #a +o carol"), (Changes{modes("#a"), members("#a")}));  // no-op, still reported
    EXPECT_EQ(prefixes("carol"), "@+");
    feed(":op!u@h MODE #a -o carol");
    EXPECT_EQ(prefixes("carol"), "+");
    // Not a member, no nick, or no channel: only the modes change is reported.
    EXPECT_EQ(feed(":op!u@h MODE #a +o ghost"), Changes{modes("#a")});
    EXPECT_EQ(feed(":op!u@h MODE #a +o"), Changes{modes("#a")});
    EXPECT_EQ(feed(":op!u@h MODE #zz +o bob"), Changes{modes("#zz")});
    EXPECT_FALSE(model.channels.contains("#zz"));
}

TEST_F(Modes, ChannelModes) {
    using M = std::map<char32_t, std::optional<std::string>>;
    feed(":op!u@h MODE #a +ntk secret");
    EXPECT_EQ(chan("#a").modes, (M{{U'k', "secret"}, {U'n', std::nullopt}, {U't', std::nullopt}}));
    feed(":op!u@h MODE #a -k *");
    feed(":op!u@h MODE #a +l 10");
    feed(":op!u@h MODE #a +l 20");
    feed(":op!u@h MODE #a +b a!*@*");
    feed(":op!u@h MODE #a +b b!*@*");
    EXPECT_EQ(chan("#a").modes, (M{{U'b', "b!*@*"}, {U'l', "20"}, {U'n', std::nullopt}, {U't', std::nullopt}}));
    feed(":op!u@h MODE #a -b a!*@*");
    EXPECT_FALSE(chan("#a").modes.contains(U'b'));
    EXPECT_EQ(feed(":op!u@h MODE #a"), Changes{modes("#a")});
}

TEST_F(Modes, UserModesChangeNothingReported) {
    EXPECT_EQ(feed(":me MODE me +iw"), Changes{});
    feed(":me MODE me -i");
    EXPECT_EQ(model.me.modes, "w");
    feed(":me MODE someone +w");  // any non-channel target counts
    EXPECT_EQ(model.me.modes, "w");
    feed(":me MODE me +xi");
    EXPECT_EQ(model.me.modes, "wxi");
    EXPECT_EQ(feed(":me MODE"), Changes{});
}

TEST(AddPrefixSymbol, KeepsRankOrder) {
    const std::vector<char32_t> modes{U'q', U'a', U'o', U'h', U'v'};
    const std::vector<char32_t> symbols{U'~', U'&', U'@', U'%', U'+'};
    struct Case {
        const char* before;
        char32_t symbol;
        const char* after;
    } cases[] = {
        {"+", U'@', "@+"}, {"@+", U'@', "@+"}, {"", U'%', "%"},
        {"@+", U'~', "~@+"}, {"!+", U'@', "@+!"},  // unlisted symbols go last
        {"+@", U'~', "~@+"},
    };
    for (const auto& c : cases) {
        std::string prefixes = c.before;
        add_prefix_symbol(prefixes, c.symbol, modes, symbols);
        EXPECT_EQ(prefixes, c.after) << c.before;
    }
    std::string p = "+";
    add_prefix_symbol(p, U'@', modes, symbols);
    add_prefix_symbol(p, U'~', modes, symbols);
    EXPECT_EQ(p, "~@+");
}

TEST_F(Modes, PropList) {
    using NM = std::map<std::string, std::optional<std::string>, std::less<>>;
    EXPECT_EQ(feed(":x 961 me #A :+a=1 +b\t+c"), Changes{modes("#A")});
    EXPECT_EQ(chan("#a").named_modes, (NM{{"a", "1"}, {"b", std::nullopt}, {"c", std::nullopt}}));
    feed(":x 961 me #a -a=1 d +e=");
    EXPECT_EQ(chan("#a").named_modes, (NM{{"b", std::nullopt}, {"c", std::nullopt}, {"e", ""}}));
    EXPECT_EQ(feed(":x 961 me #zz :+a"), Changes{});
    EXPECT_EQ(feed(":x 961 me"), Changes{});
    EXPECT_EQ(feed(":x 961 me #a"), Changes{modes("#a")});
}

}  // namespace
}  // namespace tessel::test
