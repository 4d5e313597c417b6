#include <gtest/gtest.h>

#include "tessel_client/protocol/message.hpp"

namespace tessel {
namespace {

using Params = std::vector<std::string>;

TEST(ParseLine, CommandsAndParameters) {
    struct Case {
        std::string line;
        std::string command;
        Params params;
    };
    const Case cases[] = {
        {"PING :x", "PING", {"x"}},
        {"ping x", "ping", {"x"}},
        {"NICK a\r\n\r\n", "NICK", {"a"}},
        {"NICK a\n\r", "NICK", {"a"}},
        {"PRIVMSG a  b :c d ", "PRIVMSG", {"a", "b", "c d "}},
        {"PRIVMSG a :", "PRIVMSG", {"a", ""}},
        {"PRIVMSG a b:c", "PRIVMSG", {"a", "b:c"}},
        {"PRIVMSG a   ", "PRIVMSG", {"a"}},
        {"PRIVMSG a ::)", "PRIVMSG", {"a", ":)"}},
        {"X a\tb", "X", {"a\tb"}},              // TAB is no separator
        {"X a\rb :c\nd", "X", {"a\rb", "c\nd"}},  // inner CR and LF stay
        {"QUIT", "QUIT", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto msg = parse_line(c.line);
        ASSERT_TRUE(msg);
        EXPECT_TRUE(msg->tags.empty());
        EXPECT_FALSE(msg->source);
        EXPECT_EQ(msg->command, c.command);
        EXPECT_EQ(msg->params, c.params);
    }
}

TEST(ParseLine, ManyParametersAreAllKept) {
    std::string line = "X";
    Params expected;
    for (int i = 0; i < 40; ++i) {
        line += " p" + std::to_string(i);
        expected.push_back("p" + std::to_string(i));
    }
    line += " :last one";
    expected.push_back("last one");
    const auto msg = parse_line(line);
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->params, expected);
}

TEST(ParseLine, LinesWithoutUsableShape) {
    for (const char* line : {"", "\r\n", "\n\r\r", " ", " PING x", ":nick", ":nick ", "@a=b", "@a=b :src",
                             "@a=b :src   ", "@a=b   "}) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(parse_line(line));
    }
}

TEST(ParseLine, TagsAndSource) {
    const auto msg = parse_line("@time=2023-11-14T22:13:20.123Z;+draft/reply=m1;flag  :n!u@h   PRIVMSG #c :hi there");
    ASSERT_TRUE(msg);
    const std::vector<Tag> tags{{"time", "2023-11-14T22:13:20.123Z"}, {"+draft/reply", "m1"}, {"flag", std::nullopt}};
    EXPECT_EQ(msg->tags, tags);
    EXPECT_EQ(msg->source, (Source{"n", "u", "h"}));
    EXPECT_EQ(msg->command, "PRIVMSG");
    EXPECT_EQ(msg->params, (Params{"#c", "hi there"}));

    const auto empty_section = parse_line("@ PING");
    ASSERT_TRUE(empty_section);
    EXPECT_TRUE(empty_section->tags.empty());
    EXPECT_EQ(empty_section->command, "PING");

    // The source is recognised only at the start or right after the tags.
    const auto later = parse_line("X :a!b@c");
    ASSERT_TRUE(later);
    EXPECT_FALSE(later->source);
    EXPECT_EQ(later->params, Params{"a!b@c"});
}

TEST(ParseLine, IntoAReusedMessageMatchesAFreshParse) {
    // One message parsed into again and again must come out as parse_line builds it: nothing
    // of an earlier line (a tag value, a source part, a parameter) may linger.
    const char* lines[] = {
        ("@time=2026-03-02T09:00:07.094Z;msgid=abcdefghijklmnopqrstuvwxyz;account=someone_long "
         ":nick!~user@a.rather.long.host.example PRIVMSG #chan :a text longer than the short buffer"),
        "@a;b=;c=\\ :n!u PRIVMSG #c :x",
        "@k=\\;v=2;msgid=short :srv.example NOTICE * :hi",
        ":n@h JOIN #c",
        "PING :token",
        "@x=1;x=2;y=\\:\\s TAGMSG #c",
        ":n!u@h QUIT",
        "@only=tag :n!u@h MODE #c +ov a b c d e f g h i j k l m n o p q r",
        ":n!u@h PART #c",
    };
    IrcMessage reused;
    for (int round = 0; round < 2; ++round) {
        for (const char* line : lines) {
            ASSERT_TRUE(parse_line_into(line, reused)) << line;
            EXPECT_EQ(reused, *parse_line(line)) << line;
        }
    }
    // A message whose strings were moved out (as the engine does) is refilled whole.
    ASSERT_TRUE(parse_line_into(lines[0], reused));
    IrcMessage taken = std::move(reused);
    ASSERT_TRUE(parse_line_into(lines[1], reused));
    EXPECT_EQ(reused, *parse_line(lines[1]));
    EXPECT_FALSE(parse_line_into("@tags-only", reused));
    EXPECT_FALSE(parse_line_into(":source-only", reused));
    ASSERT_TRUE(parse_line_into(lines[4], reused));
    EXPECT_EQ(reused, *parse_line(lines[4]));
}

TEST(ParseTags, PiecesKeysAndValues) {
    struct Case {
        std::string section;
        std::vector<Tag> tags;
    };
    const Case cases[] = {
        {"a=b;;c;d=", {{"a", "b"}, {"c", std::nullopt}, {"d", std::nullopt}}},
        {";a;", {{"a", std::nullopt}}},
        {"", {}},
        {"k=a=b", {{"k", "a=b"}}},
        {"=v", {{"", "v"}}},
        {"k=1;k=2", {{"k", "1"}, {"k", "2"}}},
        {"v=x\\sy\\:z\\\\", {{"v", "x y;z\\"}}},
        {"v=abc\\", {{"v", "abc"}}},
        {"v=\\q", {{"v", "q"}}},
        {"v=a\\r\\nb", {{"v", "a\r\nb"}}},
        {"v=\\\\n", {{"v", "\\n"}}},  // escapes are read one at a time
        {"v=\\", {{"v", std::nullopt}}},  // nothing left after unescaping: absent, like "v="
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        EXPECT_EQ(parse_tags(c.section), c.tags);
    }
}

// Past the first sixteen pieces the section is gathered differently: order, escapes
// and empty pieces must come through that path unchanged.
TEST(ParseTags, ManyTagsKeepOrderAndValues) {
    for (const int count : {15, 16, 17, 40}) {
        std::string section;
        std::vector<Tag> expected;
        for (int i = 0; i < count; ++i) {
            const std::string key = "k" + std::to_string(i);
            if (i % 3 == 0) {
                section += key + "=a\\sb" + std::to_string(i) + ";;";
                expected.push_back({key, "a b" + std::to_string(i)});
            } else if (i % 3 == 1) {
                section += key + ";";
                expected.push_back({key, std::nullopt});
            } else {
                section += key + "=v" + std::to_string(i) + ";";
                expected.push_back({key, "v" + std::to_string(i)});
            }
        }
        SCOPED_TRACE(count);
        EXPECT_EQ(parse_tags(section), expected);
        const auto msg = parse_line("@" + section + " PING x");
        ASSERT_TRUE(msg);
        EXPECT_EQ(msg->tags, expected);
        TagIter iter(section);
        std::vector<Tag> stepped;
        while (auto tag = iter.next_tag()) stepped.push_back(std::move(*tag));
        EXPECT_EQ(stepped, expected);
    }
}

// The section is split in blocks of 32 and 16 bytes (the last one overlapping, short sections
// byte by byte) and, in a line, ends at the first space. Each piece form, at every offset around
// those blocks, must split as the piece-by-piece iterator splits it, and a line must take
// nothing after the space into its tags.
TEST(ParseTags, BlockSplitAgreesWithTheIterator) {
    const std::string pieces[] = {"a=b", "", "k", "k=", "=v", "v=x\\sy\\:", "v=\\", "key=a=b", "x\\y=1;z",
                                  "+draft/reply=0123456789abcdef"};
    for (std::size_t pad = 0; pad <= 33; ++pad) {
        for (const std::string& first : pieces) {
            for (const std::string& second : pieces) {
                const std::string section = std::string(pad, 'p') + "=1;" + first + ";" + second;
                SCOPED_TRACE(section);
                std::vector<Tag> stepped;
                TagIter iter(section);
                while (auto tag = iter.next_tag()) stepped.push_back(std::move(*tag));
                ASSERT_EQ(parse_tags(section), stepped);
                const auto msg = parse_line("@" + section + " :n!u@h PRIVMSG #c :k=v;x\\s=y z;w");
                ASSERT_TRUE(msg);
                ASSERT_EQ(msg->tags, stepped);
                EXPECT_EQ(msg->params, (Params{"#c", "k=v;x\\s=y z;w"}));
            }
        }
    }
}

TEST(ParseTags, IteratorStopsAndStaysStopped) {
    TagIter iter("a;;b=1;");
    EXPECT_EQ(iter.next_tag(), (Tag{"a", std::nullopt}));
    EXPECT_EQ(iter.next_tag(), (Tag{"b", "1"}));
    EXPECT_FALSE(iter.next_tag());
    EXPECT_FALSE(iter.next_tag());
}

TEST(SplitSource, Forms) {
    struct Case {
        std::string text;
        Source source;
    };
    const Case cases[] = {
        {"n!u@h", {"n", "u", "h"}},
        {"n@h", {"n", std::nullopt, "h"}},
        {"n!u", {"n", "u", std::nullopt}},
        {"srv", {"srv", std::nullopt, std::nullopt}},
        {"a@b!c", {"a@b", "c", std::nullopt}},
        {"n!u@h@x", {"n", "u", "h@x"}},
        {"!@", {"", "", ""}},
        {"", {"", std::nullopt, std::nullopt}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(split_source(c.text), c.source);
    }
    const auto msg = parse_line(":!@ X");
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->source, (Source{"", "", ""}));
}

TEST(FindTag, LastOccurrenceDecides) {
    const std::vector<Tag> twice{{"k", "1"}, {"k", "2"}};
    EXPECT_EQ(find_tag(twice, "k"), "2");
    const std::vector<Tag> valueless_last{{"k", "1"}, {"k", std::nullopt}};
    EXPECT_FALSE(find_tag(valueless_last, "k"));
    const std::vector<Tag> label{{"label", "x"}};
    EXPECT_FALSE(find_tag(label, "Label"));
    EXPECT_FALSE(find_tag({}, "k"));
    // The value is read in place.
    EXPECT_EQ(find_tag(label, "label")->data(), label[0].value->data());
}

TEST(UpsertTag, ReplacesFirstInPlaceOrAppends) {
    std::vector<Tag> tags{{"k", "1"}, {"x", std::nullopt}, {"k", "2"}};
    upsert_tag(tags, Tag::make("k", "3"));
    EXPECT_EQ(tags, (std::vector<Tag>{{"k", "3"}, {"x", std::nullopt}, {"k", "2"}}));
    std::vector<Tag> empty;
    upsert_tag(empty, Tag::make("k", "3"));
    EXPECT_EQ(empty, (std::vector<Tag>{{"k", "3"}}));
}

}  // namespace
}  // namespace tessel
