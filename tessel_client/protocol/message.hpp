// IRC message records and the line parser.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

struct Tag {
    std::string key;                   // whole key, "+" and vendor prefix included
    std::optional<std::string> value;  // unescaped; absent for "k" and "k="

    static Tag make(std::string_view key, std::string_view value);
    bool operator==(const Tag&) const = default;
};

struct Source {
    std::string name;
    std::optional<std::string> user;
    std::optional<std::string> host;

    // Appends the prefix without its ":".
    void write(std::string& out) const;
    bool operator==(const Source&) const = default;
};

struct IrcMessage {
    std::vector<Tag> tags;
    std::optional<Source> source;
    std::string command;
    std::vector<std::string> params;

    static IrcMessage make(std::string_view command);
    static IrcMessage make(std::string_view command, std::string p1);
    static IrcMessage make(std::string_view command, std::string p1, std::string p2);
    static IrcMessage make(std::string_view command, std::string p1, std::string p2, std::string p3);
    static IrcMessage make(std::string_view command, std::string p1, std::string p2, std::string p3,
                           std::string p4);
    static IrcMessage make(std::string_view command, std::vector<std::string> params);

    // Appends exactly one line (no CR LF); see line_writer.cpp.
    void write(std::string& out) const;
    std::string to_line() const;

    bool operator==(const IrcMessage&) const = default;
};

// Parses one received line; nothing when the line has no usable shape.
std::optional<IrcMessage> parse_line(std::string_view line);
// The same into `msg`, which is overwritten whole (as parse_line would build it) and keeps
// the buffers it already holds; false, with `msg` unspecified, when the line has no usable shape.
bool parse_line_into(std::string_view line, IrcMessage& msg);

// One step over the ";"-separated pieces of a tag section.
class TagIter {
public:
    explicit TagIter(std::string_view section) : rest_(section) {}
    std::optional<Tag> next_tag();

private:
    std::string_view rest_;
    bool done_ = false;
};

std::vector<Tag> parse_tags(std::string_view section);
// The same into `tags`, overwritten whole, reusing its elements.
void parse_tags_into(std::string_view section, std::vector<Tag>& tags);
Source split_source(std::string_view text);

// Value of the last tag with this key, read in place; nothing when that tag has no value.
std::optional<std::string_view> find_tag(const std::vector<Tag>& tags, std::string_view key);

// Replaces the first tag with the same key in place, else appends.
void upsert_tag(std::vector<Tag>& tags, Tag tag);

// Writer helpers (line_writer.cpp).
void write_tags(const std::vector<Tag>& tags, std::string& out);
void escape_tag_value(std::string_view value, std::string& out);
// The text as the writer puts it on the line: each CR, LF and NUL becomes a space.
void replace_line_breaks(std::string& text);

}  // namespace tessel
