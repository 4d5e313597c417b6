#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tessel_client/protocol/message.hpp"

namespace tessel {
namespace {

TEST(LineWriter, ParametersAndTheColonRule) {
    struct Case {
        IrcMessage msg;
        std::string line;
    };
    const Case cases[] = {
        {IrcMessage::make("PRIVMSG", "#c", "hello world"), "PRIVMSG #c :hello world"},
        {IrcMessage::make("PRIVMSG", "#c", "hi"), "PRIVMSG #c hi"},
        {IrcMessage::make("TOPIC", "#c", ""), "TOPIC #c :"},
        {IrcMessage::make("PRIVMSG", "#c", ":)"), "PRIVMSG #c ::)"},
        {IrcMessage::make("QUIT"), "QUIT"},
        {IrcMessage::make("USER", "u", "0", "*", "Real Name"), "USER u 0 * :Real Name"},
        {IrcMessage::make("METADATA", "*", "SET", "k"), "METADATA * SET k"},
        {IrcMessage::make("X", std::vector<std::string>{"a", "b", "c", "d", "e"}), "X a b c d e"},
        // Middle parameters are not protected.
        {IrcMessage::make("X", "a b", "c"), "X a b c"},
        // Read back, a leading "@" would open a tag section.
        {IrcMessage::make("@x", "y"), "@ @x y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.msg.to_line(), c.line);
    }
}

TEST(LineWriter, TagsAndSource) {
    IrcMessage msg = IrcMessage::make("PING", "x");
    msg.tags.push_back(Tag::make("label", "1"));
    EXPECT_EQ(msg.to_line(), "@label=1 PING x");

    msg.tags.push_back(Tag{"bare", std::nullopt});
    msg.tags.push_back(Tag::make("empty", ""));
    msg.tags.push_back(Tag::make("+v", "a b;c\\d\re\nf"));
    EXPECT_EQ(msg.to_line(), "@label=1;bare;empty=;+v=a\\sb\\:c\\\\d\\re\\nf PING x");

    IrcMessage src = IrcMessage::make("X");
    src.source = Source{"n", std::nullopt, std::nullopt};
    EXPECT_EQ(src.to_line(), ":n X");
    src.source = Source{"n", std::nullopt, "h"};
    EXPECT_EQ(src.to_line(), ":n@h X");
    src.source = Source{"n", "u", "h"};
    EXPECT_EQ(src.to_line(), ":n!u@h X");

    std::string out = "prefix|";  // write appends
    src.write(out);
    EXPECT_EQ(out, "prefix|:n!u@h X");
}

TEST(LineWriter, EscapedValuesReadBack) {
    const std::string value = "a b;c\\d\re\nf\\s:";
    std::string escaped;
    escape_tag_value(value, escaped);
    EXPECT_EQ(parse_tags("k=" + escaped), (std::vector<Tag>{{"k", value}}));
}

// Host text must never become a second line on the wire.
TEST(LineWriter, AlwaysWritesExactlyOneLine) {
    struct Case {
        IrcMessage msg;
        std::string line;
    };
    IrcMessage sourced = IrcMessage::make("X", "y");
    sourced.source = Source{"n\r\nQUIT", "u\n", "h\0x"};
    sourced.source->host = std::string("h\0x", 3);
    IrcMessage keyed = IrcMessage::make("X");
    keyed.tags.push_back(Tag::make("k\r\nQUIT", "v\r\n"));
    const Case cases[] = {
        {IrcMessage::make("PRIVMSG", "#c", "hi\r\nQUIT :bye"), "PRIVMSG #c :hi  QUIT :bye"},
        // A line break in a last parameter without spaces still needs the ":".
        {IrcMessage::make("PRIVMSG", "#c", "hi\nQUIT"), "PRIVMSG #c :hi QUIT"},
        {IrcMessage::make("PRIVMSG", "#c\r\nQUIT", "x"), "PRIVMSG #c  QUIT x"},
        {IrcMessage::make("JOIN\nQUIT", "#c"), "JOIN QUIT #c"},
        {IrcMessage::make("PRIVMSG", "#c", std::string("a\0b", 3)), "PRIVMSG #c :a b"},
        {IrcMessage::make("PRIVMSG", "#c", "\u00e9\u00e9\u00e9\u00e9\u00e9\x1f\x0e-long-run\nQUIT"),
         "PRIVMSG #c :\u00e9\u00e9\u00e9\u00e9\u00e9\x1f\x0e-long-run QUIT"},
        {std::move(sourced), ":n  QUIT!u @h x X y"},
        {std::move(keyed), "@k  QUIT=v\\r\\n X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string line = c.msg.to_line();
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    }
}

// Host text in the last parameter and in tag values, line-breaking bytes included,
// gives one line that reads back as the same message (CR, LF and NUL of the
// parameter turned into spaces; the colon rule must count them as spaces too).
TEST(LineWriter, HostTextReadsBackAsOneMessage) {
    const std::string alphabet[] = {"\r", "\n", std::string(1, '\0'), " ", ":", "x", ";", "\\", "\u00e9"};
    std::mt19937 rng(11);
    auto text = [&](std::size_t max_len) {
        std::string s;
        for (std::size_t i = rng() % (max_len + 1); i > 0; --i) s += alphabet[rng() % std::size(alphabet)];
        return s;
    };
    for (int n = 0; n < 5000; ++n) {
        IrcMessage msg = IrcMessage::make("PRIVMSG", "#c", text(12));
        for (std::size_t i = rng() % 3; i > 0; --i) {
            std::string value = text(8);
            std::erase(value, '\0');  // escaping leaves NUL alone in tag values
            msg.tags.push_back(Tag::make("k" + std::to_string(i), value));
        }
        const std::string line = msg.to_line();
        ASSERT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << line;
        const auto back = parse_line(line);
        ASSERT_TRUE(back) << line;
        std::string last = msg.params[1];
        std::replace_if(last.begin(), last.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
        EXPECT_EQ(back->params, (std::vector<std::string>{"#c", last})) << line;
        ASSERT_EQ(back->tags.size(), msg.tags.size()) << line;
        for (std::size_t i = 0; i < msg.tags.size(); ++i) {
            const std::string& value = *msg.tags[i].value;
            EXPECT_EQ(back->tags[i].value, value.empty() ? std::nullopt : std::optional<std::string>(value));
        }
    }
}

TEST(LineWriter, ParsedMessagesRoundTrip) {
    for (const char* line : {"@a=b;c;d=x\\sy\\:z\\\\w :n!u@h PRIVMSG #c :hello world",
                             ":srv 005 me PREFIX=(ov)@+ :are supported", "PING :", "X a b c", "@k= X",
                             "@ @x :y", "@ :s @x y", "@t @x"}) {
        SCOPED_TRACE(line);
        const auto first = parse_line(line);
        ASSERT_TRUE(first);
        EXPECT_EQ(parse_line(first->to_line()), first);
    }
    // The two known losses: a tag with an empty key and no value, and a present empty value.
    IrcMessage msg = IrcMessage::make("X");
    msg.tags = {Tag{"", std::nullopt}, Tag::make("e", "")};
    const auto back = parse_line(msg.to_line());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->tags, (std::vector<Tag>{{"e", std::nullopt}}));
}

// Lines made of the characters the grammar cares about: whatever parses must be
// written back to a line that parses to the same message.
TEST(LineWriter, RandomLinesRoundTrip) {
    const std::string alphabet[] = {" ", " ", ":", "@", "!", ";", "=", "\\", "a", "s", "\t", "\x01", "\u00e9"};
    std::mt19937 rng(7);
    int parsed = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string line;
        const int len = static_cast<int>(rng() % 24);
        for (int i = 0; i < len; ++i) line += alphabet[rng() % std::size(alphabet)];
        auto msg = parse_line(line);
        if (!msg) continue;
        ++parsed;
        const std::string written = msg->to_line();
        // A tag with an empty key and no value is written as nothing.
        std::erase_if(msg->tags, [](const Tag& t) { return t.key.empty() && !t.value; });
        ASSERT_EQ(parse_line(written), msg) << "line: [" << line << "] written: [" << written << "]";
    }
    EXPECT_GT(parsed, 5000);
}

}  // namespace
}  // namespace tessel
