// Config and Credentials read from host JSON: both shapes, defaults, and the exact error
// texts with their positions (or none, for the second pass of a whole-text union).
#include <gtest/gtest.h>

#include <string>

#include "tessel_client/formats/config_json.hpp"

namespace tessel {
namespace {

std::string config_error(std::string_view text) {
    const auto r = config_from_json(text);
    return r.ok() ? "ok" : r.error().shown();
}

std::string sasl_error(std::string_view text) {
    const auto r = credentials_from_json(text);
    return r.ok() ? "ok" : r.error().shown();
}

Config config_of(std::string_view text) {
    auto r = config_from_json(text);
    EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().shown());
    return r.ok() ? r.value() : Config{};
}

Credentials sasl_of(std::string_view text) {
    auto r = credentials_from_json(text);
    EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().shown());
    return r.ok() ? r.value() : Credentials{};
}

struct Case {
    std::string text;
    std::string expected;
};

TEST(ConfigJson, EmptyFormsGiveTheDefaults) {
    EXPECT_EQ(config_of("{}"), Config{});
    EXPECT_EQ(config_of("[]"), Config{});
    EXPECT_EQ(config_of(" [ ] "), Config{});
    EXPECT_EQ(Config{}.retention, 5000u);
}

TEST(ConfigJson, ObjectAndArrayFormsFillTheSameFields) {
    Config alpha;
    alpha.nick = "alpha";
    EXPECT_EQ(config_of(R"({"nick":"alpha"})"), alpha);
    EXPECT_EQ(config_of(R"(["alpha"])"), alpha);

    Config full;
    full.nick = "n";
    full.username = "u";
    full.realname = "r";
    full.password = "p";
    full.sasl = Credentials{Credentials::Plain{"su", "sp"}};
    full.retention = 0;
    full.alt_nicks = {"n_", "n__"};
    EXPECT_EQ(config_of(R"({"alt_nicks":["n_","n__"],"retention":0,"sasl":{"password":"sp","username":"su",)"
                        R"("mechanism":"plain"},"password":"p","realname":"r","username":"u","nick":"n","x":[{}]})"),
              full);
    EXPECT_EQ(config_of(R"(["n","u","r","p",["plain","su","sp"],0,["n_","n__"]])"), full);

    const Config nulls = config_of(R"({"nick":"a","password":null,"sasl":null})");
    EXPECT_FALSE(nulls.password.has_value());
    EXPECT_FALSE(nulls.sasl.has_value());
    EXPECT_EQ(config_of(R"(["a","","",null,null,5000,[]])").nick, "a");
    // Keys are case-sensitive: "Nick" is unknown and skipped.
    EXPECT_EQ(config_of(R"({"nick":"a","Nick":"b"})").nick, "a");
    // Keys are compared once their escapes are decoded.
    EXPECT_EQ(config_of(R"({"\u006eick":"a","r\u0065tention":7})").retention, 7u);
    EXPECT_EQ(config_of(R"({"retention":18446744073709551615})").retention, 18446744073709551615u);
}

TEST(ConfigJson, FieldErrorsArePositionedAfterTheValue) {
    const Case cases[] = {
        {"null", "invalid type: null, expected struct Config at line 1 column 4"},
        {"5", "invalid type: integer `5`, expected struct Config at line 1 column 1"},
        {"\"x\"", "invalid type: string \"x\", expected struct Config at line 1 column 3"},
        {"", "EOF while parsing a value at line 1 column 0"},
        {R"({"nick":null})", "invalid type: null, expected a string at line 1 column 12"},
        {"{\n\"nick\": 5}", "invalid type: integer `5`, expected a string at line 2 column 9"},
        {R"({"nick":[1]})", "invalid type: sequence, expected a string at line 1 column 8"},
        {R"({"nick": {}})", "invalid type: map, expected a string at line 1 column 9"},
        {R"({"password":true})", "invalid type: boolean `true`, expected a string at line 1 column 16"},
        {R"({"nick":"a","retention":null})", "invalid type: null, expected usize at line 1 column 28"},
        {R"({"nick":"a","alt_nicks":null})", "invalid type: null, expected a sequence at line 1 column 28"},
        {R"({"alt_nicks":"a"})", "invalid type: string \"a\", expected a sequence at line 1 column 16"},
        {R"({"alt_nicks":["a",null]})", "invalid type: null, expected a string at line 1 column 22"},
        {R"({"nick":"a","retention":5e3})",
         "invalid type: floating point `5000.0`, expected usize at line 1 column 27"},
        {R"({"nick":"a","retention":5000.0})",
         "invalid type: floating point `5000.0`, expected usize at line 1 column 30"},
        {R"({"retention":-1})", "invalid value: integer `-1`, expected usize at line 1 column 15"},
        {R"({"retention":1.5})", "invalid type: floating point `1.5`, expected usize at line 1 column 16"},
        {R"({"retention":-0})", "invalid type: floating point `-0.0`, expected usize at line 1 column 15"},
        {R"({"retention":18446744073709551616})",
         "invalid type: floating point `1.8446744073709552e+19`, expected usize at line 1 column 33"},
        {R"({"retention":1e20})", "invalid type: floating point `1e+20`, expected usize at line 1 column 17"},
        {R"({"retention":1e999})", "number out of range at line 1 column 18"},
        {R"({"nick":"a","nick":"b"})", "duplicate field `nick` at line 1 column 18"},
        {R"({"nick":"a","n\u0069ck":"b"})", "duplicate field `nick` at line 1 column 23"},
        // Giving up, the object's reader skips white space and takes its closing brace.
        {R"({"nick":"a","nick" })", "duplicate field `nick` at line 1 column 20"},
        {R"({"nick":"a"} x)", "trailing characters at line 1 column 14"},
        {R"({"nick":"a",})", "trailing comma at line 1 column 13"},
        {R"({1:2})", "key must be a string at line 1 column 2"},
        {R"(["a","","",null,null,5000,[],1])", "trailing characters at line 1 column 30"},
        {R"(["a","","",null,null,5000,[] x])", "trailing characters at line 1 column 30"},
        {R"(["a","","",null,null,5000,[],])", "trailing comma at line 1 column 30"},
        {R"(["a","","",null,null,5000,[])", "EOF while parsing a list at line 1 column 28"},
        {R"(["a",5])", "invalid type: integer `5`, expected a string at line 1 column 6"},
        {R"(["a",])", "trailing comma at line 1 column 6"},
    };
    for (const auto& c : cases) EXPECT_EQ(config_error(c.text), c.expected) << c.text;
}

TEST(ConfigJson, ShownStringsEscapeWhatIsNotPrintable) {
    const Case cases[] = {
        {R"("a\u0007b")", R"(string "a\u{7}b")"},
        {"\"a\\tb\\r\\n\\u0000\"", R"(string "a\tb\r\n\0")"},
        {R"("q\"b\\")", R"(string "q\"b\\")"},
        {"\"e\xCC\x81\"", R"(string "e\u{301}")"},          // combining acute accent
        {"\"\xC2\xA0\xE2\x80\x8B\"", R"(string "\u{a0}\u{200b}")"},  // no-break space, zero-width space
        {"\"\xC3\xA9 \xF0\x9F\x98\x80/\"", "string \"\xC3\xA9 \xF0\x9F\x98\x80/\""},
        {R"("\u007f")", R"(string "\u{7f}")"},
    };
    for (const auto& c : cases) {
        const std::string text = "{\"retention\":" + c.text + "}";
        const std::string got = config_error(text);
        EXPECT_EQ(got.substr(0, got.find(", expected")), "invalid type: " + c.expected) << c.text;
    }
}

TEST(CredentialsJson, BothFormsAndAnyTagPlace) {
    const Credentials plain{Credentials::Plain{"u", "p"}};
    EXPECT_EQ(sasl_of(R"({"mechanism":"plain","username":"u","password":"p"})"), plain);
    EXPECT_EQ(sasl_of(R"({"password":"p","username":"u","nonce":"x","mechanism":"plain"})"), plain);
    EXPECT_EQ(sasl_of(R"(["plain","u","p"])"), plain);
    EXPECT_EQ(sasl_of(R"(["external"])"), Credentials{Credentials::External{}});
    EXPECT_EQ(sasl_of(R"({"mech\u0061nism":"ext\u0065rnal"})"), Credentials{Credentials::External{}});
    EXPECT_EQ(sasl_of(R"({"mechanism":"external","username":"x","u":[1,{"a":2}]})"),
              Credentials{Credentials::External{}});
    EXPECT_EQ(sasl_of(R"(["scram","u","p","n"])"), (Credentials{Credentials::Scram{"u", "p", "n"}}));
    EXPECT_EQ(sasl_of(R"({"nonce":"n","mechanism":"scram","username":"u","password":"p","username2":1})"),
              (Credentials{Credentials::Scram{"u", "p", "n"}}));
}

TEST(CredentialsJson, FirstPassErrorsHaveAPositionSecondPassErrorsNone) {
    const Case cases[] = {
        {"{}", "missing field `mechanism` at line 1 column 2"},
        {"[]", "missing field `mechanism` at line 1 column 2"},
        {R"({"username":"u"} )", "missing field `mechanism` at line 1 column 16"},
        {R"({"mechanism":"plain","mechanism":"plain"})", "duplicate field `mechanism` at line 1 column 32"},
        {R"({"mechanism":"Plain"})",
         "unknown variant `Plain`, expected one of `plain`, `external`, `scram` at line 1 column 20"},
        {R"({"mechanism":"PLAIN"})",
         "unknown variant `PLAIN`, expected one of `plain`, `external`, `scram` at line 1 column 20"},
        {R"({"mechanism":1})", "invalid type: integer `1`, expected variant identifier at line 1 column 14"},
        {R"([null])", "invalid type: null, expected variant identifier at line 1 column 5"},
        {"plain", "expected value at line 1 column 1"},
        {R"("plain")", "invalid type: string \"plain\", expected internally tagged enum Credentials at line 1 column 7"},
        // The tag is judged before what follows it is read.
        {R"({"mechanism":"x","username":})",
         "unknown variant `x`, expected one of `plain`, `external`, `scram` at line 1 column 16"},
        {R"({"username":[1,],"mechanism":"plain"})", "trailing comma at line 1 column 16"},

        {R"(["plain","u"])", "invalid length 1, expected struct variant Credentials::Plain with 2 elements"},
        {R"(["plain"])", "invalid length 0, expected struct variant Credentials::Plain with 2 elements"},
        {R"(["plain","u","p","x"])", "invalid length 3, expected 2 elements in sequence"},
        {R"(["plain","u","p",null])", "invalid length 3, expected 2 elements in sequence"},
        {R"(["plain",1])", "invalid type: integer `1`, expected a string"},
        {R"(["external",1])", "invalid length 1, expected 0 elements in sequence"},
        {R"(["scram","u"])", "invalid length 1, expected struct variant Credentials::Scram with 3 elements"},
        {R"(["scram","u","p"])", "invalid length 2, expected struct variant Credentials::Scram with 3 elements"},
        {R"(["scram","u","p","n",{}])", "invalid length 4, expected 3 elements in sequence"},
        {R"({"mechanism":"scram","username":"u","password":"p"})", "missing field `nonce`"},
        {R"({"mechanism":"plain"})", "missing field `username`"},
        {R"({"mechanism":"plain","username":1})", "invalid type: integer `1`, expected a string"},
        {R"({"mechanism":"plain","username":1,"password":"p"})", "invalid type: integer `1`, expected a string"},
        {R"({"mechanism":"plain","username":"a","username":"b","password":"p"})", "duplicate field `username`"},
        // Second-pass faults are found before text after the value.
        {R"({"mechanism":"plain"} x)", "missing field `username`"},
        {R"(["external"] x)", "trailing characters at line 1 column 14"},
    };
    for (const auto& c : cases) EXPECT_EQ(sasl_error(c.text), c.expected) << c.text;
}

TEST(CredentialsJson, InsideAConfigErrorsTakeTheConfigPosition) {
    const Case cases[] = {
        {R"({"sasl":["plain","u"]})",
         "invalid length 1, expected struct variant Credentials::Plain with 2 elements at line 1 column 22"},
        {R"({"nick":"a","sasl":{"mechanism":"plain"}})", "missing field `username` at line 1 column 41"},
        {R"({"nick":"a","sasl":{"mechanism":"plain"}  ,"x":1})", "missing field `username` at line 1 column 42"},
        {R"(["a","","",null,{"mechanism":"external"},"x"])",
         "invalid type: string \"x\", expected usize at line 1 column 44"},
        {R"(["a","","",null,["plain"] ])",
         "invalid length 0, expected struct variant Credentials::Plain with 2 elements at line 1 column 27"},
        {R"({"sasl":{}})", "missing field `mechanism` at line 1 column 10"},
        {R"({"sasl":5})", "invalid type: integer `5`, expected internally tagged enum Credentials at line 1 column 9"},
    };
    for (const auto& c : cases) EXPECT_EQ(config_error(c.text), c.expected) << c.text;
}

TEST(CredentialsJson, SaslSharesTheConfigNestingBudget) {
    const auto with_value = [](int depth) {
        return R"({"nick":"a","sasl":{"mechanism":"external","x":)" + std::string(depth, '[') +
               std::string(depth, ']') + "}}";
    };
    EXPECT_EQ(config_error(with_value(125)), "ok");
    EXPECT_EQ(config_error(with_value(126)), "recursion limit exceeded at line 1 column 173");
    // Alone, the credentials start with the whole budget.
    const std::string alone = R"({"mechanism":"external","x":)" + std::string(126, '[') + std::string(126, ']') + "}";
    EXPECT_EQ(sasl_error(alone), "ok");
}

}  // namespace
}  // namespace tessel
