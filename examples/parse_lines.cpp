// Reads a transcript of server lines, parses each one and reports what it saw:
// a tally per command, how many lines did not parse, and a few lines written back.
//
//     parse_lines [transcript]    (default: examples/sample_session.txt)
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/utf8.hpp"

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "examples/sample_session.txt";
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "parse_lines: cannot open " << path << "\n";
        return 1;
    }

    std::map<std::string, int> tally;
    std::vector<tessel::IrcMessage> samples;
    int lines = 0;
    int unparseable = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++lines;
        // As on a connection: invalid UTF-8 becomes U+FFFD, then the line is parsed.
        auto msg = tessel::parse_line(tessel::utf8_lossy(raw));
        if (!msg) {
            ++unparseable;
            continue;
        }
        ++tally[msg->command];
        if (!msg->tags.empty() && samples.size() < 3) samples.push_back(std::move(*msg));
    }

    std::cout << path << ": " << lines << " lines, " << unparseable << " unparseable\n\n";
    for (const auto& [command, count] : tally) std::cout << "  " << command << "\t" << count << "\n";

    std::cout << "\nThe first tagged lines, written back:\n";
    for (const tessel::IrcMessage& msg : samples) std::cout << "  " << msg.to_line() << "\n";
    return 0;
}
