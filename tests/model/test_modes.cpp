#include <random>
#include <string>

#include "model_fixture.hpp"
#include "tessel_client/model/modes.hpp"
#include "tessel_client/protocol/utf8.hpp"

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

// Runs of user-mode changes against the plain rule (each letter once, in the order added; a
// removal drops it wherever it stands), starting from held letters that may repeat, as a
// model read back from elsewhere can hold them.
TEST_F(Modes, UserModeRunsMatchThePlainRule) {
    std::mt19937 random(3);
    const std::u32string alphabet = U"abcdeé";
    for (int run = 0; run < 300; ++run) {
        std::u32string held, letters;
        for (int i = random() % 4; i > 0; --i) held += alphabet[random() % alphabet.size()];
        for (int i = random() % 12; i > 0; --i) {
            if (random() % 3 == 0) letters += random() % 2 ? U'+' : U'-';
            letters += alphabet[random() % alphabet.size()];
        }
        std::u32string expected = held;
        bool adding = true;
        for (const char32_t c : letters) {
            if (c == U'+' || c == U'-') {
                adding = c == U'+';
            } else if (!adding) {
                std::erase(expected, c);
            } else if (expected.find(c) == std::u32string::npos) {
                expected += c;
            }
        }
        auto utf8 = [](const std::u32string& text) {
            std::string out;
            for (const char32_t c : text) utf8_append(c, out);
            return out;
        };
        model.me.modes = utf8(held);
        feed(":me MODE me " + utf8(letters));
        SCOPED_TRACE(utf8(held) + " " + utf8(letters));
        EXPECT_EQ(model.me.modes, utf8(expected));
    }
}

// PREFIX lists may repeat a letter or a symbol: the first place counts for both.
TEST_F(Modes, RepeatedPrefixEntriesRankByTheirFirstPlace) {
    isupport.prefix_modes = {U'o', U'v', U'o', U'h'};
    isupport.prefix_symbols = {U'@', U'+', U'!', U'@'};
    feed(":op!u@h MODE #a +vohh bob bob bob bob");
    EXPECT_EQ(prefixes("bob"), "@+");
    const std::vector<char32_t> symbols{U'+', U'@', U'+', U'%'};
    std::string p = "%";
    add_prefix_symbol(p, U'@', {}, symbols);
    add_prefix_symbol(p, U'+', {}, symbols);
    add_prefix_symbol(p, U'~', {}, symbols);
    EXPECT_EQ(p, "+@%~");
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
