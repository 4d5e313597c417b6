#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tessel_client/formats/json_writer.hpp"

namespace tessel {
namespace {

// The escapes one byte at a time, as JSON defines them.
std::string escaped(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (byte < 0x20) {
                    char seq[7];
                    std::snprintf(seq, sizeof seq, "\\u%04x", byte);
                    out += seq;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// Texts are searched in blocks: an escape is found wherever it falls, in a block, across
// block ends or in the tail, and the bytes nearest the escaped ranges (space, DEL, bytes
// from 0x80 up) are copied as they are.
TEST(JsonWriter, EscapesWhereverTheyFall) {
    const std::string fillers[] = {"a", " ", "\x7f", "\xC3\xA9", "\xff"};
    const char specials[] = {'"', '\\', '\0', '\x01', '\x1f', '\n', '\t'};
    for (const std::string& filler : fillers) {
        for (std::size_t length = 1; length <= 40; ++length) {
            std::string plain;
            while (plain.size() < length) plain += filler;
            plain.resize(length);
            std::string out;
            write_json_text(plain, out);
            ASSERT_EQ(out, escaped(plain)) << "filler " << filler << " length " << length;
            for (const char special : specials) {
                for (std::size_t at = 0; at < length; at += 3) {
                    std::string text = plain;
                    text[at] = special;
                    if (at + 7 < length) text[at + 7] = special;  // a second one in the same block
                    out.clear();
                    write_json_text(text, out);
                    ASSERT_EQ(out, escaped(text)) << "length " << length << " at " << at << " byte " << int(special);
                }
            }
        }
    }
}

}  // namespace
}  // namespace tessel
