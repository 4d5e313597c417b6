#include <gtest/gtest.h>

#include "tessel_client/protocol/isupport.hpp"

namespace tessel {
namespace {

using Chars = std::vector<char32_t>;

Isupport applied(std::initializer_list<const char*> tokens) {
    Isupport is;
    for (const char* t : tokens) apply_isupport_token(is, t);
    return is;
}

TEST(Isupport, Defaults) {
    const Isupport is;
    EXPECT_EQ(is.prefix_modes, (Chars{U'o', U'v'}));
    EXPECT_EQ(is.prefix_symbols, (Chars{U'@', U'+'}));
    EXPECT_EQ(std::make_pair(is.prefix_modes, is.prefix_symbols), default_prefix());
    const ChanModeClasses d = default_chanmodes();
    EXPECT_EQ((std::vector<std::string>{is.chanmodes_a, is.chanmodes_b, is.chanmodes_c, is.chanmodes_d}),
              (std::vector<std::string>{d.a, d.b, d.c, d.d}));
    EXPECT_EQ(is.casemapping, CaseMapping::Rfc1459);
}

TEST(Isupport, Prefix) {
    Isupport is = applied({"PREFIX=(qaohv)~&@%+"});
    EXPECT_EQ(is.prefix_modes, (Chars{U'q', U'a', U'o', U'h', U'v'}));
    EXPECT_EQ(is.prefix_symbols, (Chars{U'~', U'&', U'@', U'%', U'+'}));
    for (const char* bad : {"PREFIX=(ov)@", "PREFIX=", "PREFIX=()", "PREFIX=ov@+", "PREFIX=(ov@+"}) {
        SCOPED_TRACE(bad);
        apply_isupport_token(is, bad);
        EXPECT_EQ(is.prefix_modes.size(), 5u);
        EXPECT_EQ(is.prefix_symbols.size(), 5u);
    }
    // Characters, not bytes, are counted.
    is = applied({"PREFIX=(yo)★@"});
    EXPECT_EQ(is.prefix_symbols, (Chars{U'★', U'@'}));

    for (const char* reset : {"PREFIX", "-PREFIX"}) {
        SCOPED_TRACE(reset);
        is = applied({"PREFIX=(qaohv)~&@%+", reset});
        EXPECT_EQ(std::make_pair(is.prefix_modes, is.prefix_symbols), default_prefix());
    }
    EXPECT_FALSE(is.tokens.contains("PREFIX"));
}

TEST(Isupport, Chanmodes) {
    struct Case {
        std::vector<const char*> tokens;
        std::vector<std::string> classes;
    };
    const Case cases[] = {
        {{"CHANMODES=beI,k,l"}, {"beI", "k", "l", ""}},
        {{"CHANMODES=a,b,c,d,e"}, {"a", "b", "c", "d"}},
        {{"CHANMODES="}, {"", "", "", ""}},
        {{"CHANMODES=", "-CHANMODES"}, {"b", "k", "l", "imnpst"}},
        {{"CHANMODES=x", "CHANMODES"}, {"b", "k", "l", "imnpst"}},
    };
    for (const Case& c : cases) {
        Isupport is;
        for (const char* t : c.tokens) apply_isupport_token(is, t);
        EXPECT_EQ((std::vector<std::string>{is.chanmodes_a, is.chanmodes_b, is.chanmodes_c, is.chanmodes_d}),
                  c.classes)
            << c.tokens.back();
    }
}

TEST(Isupport, ChannelsStatusmsgAndPrefixModes) {
    Isupport is;
    EXPECT_TRUE(is.is_channel("#x"));
    EXPECT_TRUE(is.is_channel("&x"));
    EXPECT_FALSE(is.is_channel("!x"));
    EXPECT_FALSE(is.is_channel(""));
    EXPECT_FALSE(is.is_statusmsg_char(U'@'));
    apply_isupport_token(is, "CHANTYPES=#");
    EXPECT_FALSE(is.is_channel("&x"));
    EXPECT_TRUE(is.is_channel("#"));
    apply_isupport_token(is, "CHANTYPES=§#");
    EXPECT_TRUE(is.is_channel("§x"));
    apply_isupport_token(is, "-CHANTYPES");
    EXPECT_TRUE(is.is_channel("&x"));

    apply_isupport_token(is, "STATUSMSG=@+");
    EXPECT_TRUE(is.is_statusmsg_char(U'+'));
    EXPECT_FALSE(is.is_statusmsg_char(U'%'));
    apply_isupport_token(is, "STATUSMSG");
    EXPECT_FALSE(is.is_statusmsg_char(U'+'));

    EXPECT_TRUE(is.is_prefix_mode(U'o'));
    EXPECT_FALSE(is.is_prefix_mode(U'h'));
}

TEST(Isupport, Casemapping) {
    struct Case {
        const char* token;
        CaseMapping mapping;
    };
    const Case cases[] = {
        {"CASEMAPPING=ascii", CaseMapping::Ascii},
        {"CASEMAPPING=rfc1459-strict", CaseMapping::Rfc1459Strict},
        {"CASEMAPPING=ASCII", CaseMapping::Rfc1459},
        {"CASEMAPPING=rfc7613", CaseMapping::Rfc1459},
        {"CASEMAPPING", CaseMapping::Rfc1459},
        {"-CASEMAPPING", CaseMapping::Rfc1459},
    };
    for (const Case& c : cases) {
        Isupport is = applied({"CASEMAPPING=ascii"});
        apply_isupport_token(is, c.token);
        EXPECT_EQ(is.casemapping, c.mapping) << c.token;
    }
}

TEST(Isupport, TokenForms) {
    struct Case {
        std::vector<const char*> tokens;
        IsupportChange last;                      // what the last token reports
        std::optional<std::optional<std::string>> stored;  // its entry afterwards, outer empty: not stored
    };
    using Opt = std::optional<std::string>;
    const Case cases[] = {
        {{"NETWORK=a\\x20b"}, {"NETWORK", "a b"}, Opt("a b")},
        {{"NETWORK=\\xe9"}, {"NETWORK", "\u00e9"}, Opt("\u00e9")},
        {{"X=\\x4"}, {"X", "\\x4"}, Opt("\\x4")},
        {{"X=\\xZZ"}, {"X", "\\xZZ"}, Opt("\\xZZ")},
        {{"X=\\x\\x41"}, {"X", "\\xA"}, Opt("\\xA")},
        {{"X=a\\nb"}, {"X", "a\\nb"}, Opt("a\\nb")},
        {{"X=ab", "X+=cd"}, {"X", "abcd"}, Opt("abcd")},
        {{"Y+=cd"}, {"Y", "cd"}, Opt("cd")},
        {{"Y", "Y+=cd"}, {"Y", "cd"}, Opt("cd")},
        {{"FOO=1", "FOO"}, {"FOO", std::nullopt}, Opt()},
        {{"FOO="}, {"FOO", ""}, Opt("")},
        {{"-FOO"}, {"FOO", std::nullopt, true}, std::nullopt},
        {{"FOO=1", "-FOO=bar"}, {"FOO", std::nullopt, true}, std::nullopt},
        {{"=v"}, {"", "v"}, Opt("v")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tokens.back());
        Isupport is;
        IsupportChange change;
        for (const char* t : c.tokens) change = apply_isupport_token(is, t);
        EXPECT_EQ(change, c.last);
        const auto it = is.tokens.find(c.last.token);
        if (c.stored) {
            ASSERT_NE(it, is.tokens.end());
            EXPECT_EQ(it->second, *c.stored);
        } else {
            EXPECT_EQ(it, is.tokens.end());
        }
        EXPECT_FALSE(is.tokens.contains(c.last.token + "+"));
    }
}

TEST(Isupport, Number) {
    struct Case {
        const char* token;
        std::optional<std::uint32_t> number;
    };
    const Case cases[] = {
        {"MONITOR=100", 100u},       {"MONITOR=+5", 5u},       {"MONITOR=007", 7u},
        {"MONITOR=4294967295", 4294967295u},                   {"MONITOR=-5", std::nullopt},
        {"MONITOR=", std::nullopt},  {"MONITOR=4294967296", std::nullopt},
        {"MONITOR", std::nullopt},   {"MONITOR=+", std::nullopt}, {"MONITOR=1 ", std::nullopt},
        {"MONITOR=99999999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(applied({c.token}).number("MONITOR"), c.number) << c.token;
    }
    EXPECT_FALSE(Isupport().number("MONITOR"));
}

TEST(Isupport, SplitMemberPrefixes) {
    struct Case {
        const char* entry;
        const char* prefixes;
        const char* nick;
    };
    const Case defaults[] = {
        {"@+nick", "@+", "nick"}, {"+@nick", "+@", "nick"}, {"nick", "", "nick"},
        {"%nick", "", "%nick"},   {"@@+", "@@+", ""},       {"", "", ""},
        {"n@ck", "", "n@ck"},
    };
    const Isupport is;
    for (const Case& c : defaults) {
        const MemberPrefixes parts = split_member_prefixes(is, c.entry);
        EXPECT_EQ(parts.prefixes, c.prefixes) << c.entry;
        EXPECT_EQ(parts.nick, c.nick) << c.entry;
    }
    const Isupport wide = applied({"PREFIX=(qhv)★%+"});
    const MemberPrefixes parts = split_member_prefixes(wide, "★%nick");
    EXPECT_EQ(parts.prefixes, "★%");
    EXPECT_EQ(parts.nick, "nick");
}

}  // namespace
}  // namespace tessel
