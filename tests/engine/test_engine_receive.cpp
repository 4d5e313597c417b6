// Framing of received bytes, the keepalive and label steps, and the dispatch table.
#include <random>

#include "engine_harness.hpp"
#include "tessel_client/engine/base64.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<Event>;

TEST(Framing, LinesSplitAcrossCallsAndBareLf) {
    Harness h;
    h.engine.handle_bytes("PING a\r\nPI");
    EXPECT_EQ(h.sent(), Lines{"PONG a"});
    h.engine.handle_bytes("NG b\r\n");
    EXPECT_EQ(h.sent(), Lines{"PONG b"});
    h.engine.handle_bytes("PING c\nPING d\r\n\r\nPING e\n");
    EXPECT_EQ(h.sent(), (Lines{"PONG c", "PONG d", "PONG e"}));
    EXPECT_TRUE(h.engine.recv_buf.empty());
    h.engine.handle_bytes("");
    EXPECT_TRUE(h.sent().empty());
}

TEST(Framing, GivesUpAt8704BytesWithoutLf) {
    Harness h;
    h.engine.handle_bytes(std::string(8703, 'x'));
    EXPECT_EQ(h.engine.recv_buf.size(), 8703u);
    EXPECT_FALSE(h.engine.discarding);
    h.engine.handle_bytes("y");
    EXPECT_TRUE(h.engine.recv_buf.empty());
    EXPECT_TRUE(h.engine.discarding);
    EXPECT_EQ(h.engine.malformed_lines, 1u);
    // More of the same line, filling the buffer again, is still that one line.
    h.engine.handle_bytes(std::string(9000, 'z'));
    EXPECT_EQ(h.engine.malformed_lines, 1u);
    h.engine.handle_bytes("PING :tail\r\nPING next\r\n");
    EXPECT_EQ(h.sent(), Lines{"PONG next"});
    EXPECT_FALSE(h.engine.discarding);
}

TEST(Framing, LongCompleteLineIsParsed) {
    Harness h;
    std::string text(20000, 'a');
    h.engine.handle_bytes("PING :" + text + "\r\n");
    EXPECT_EQ(h.sent(), Lines{"PONG " + text});
    // Also when its start was buffered by an earlier call.
    h.engine.handle_bytes("PING :" + text.substr(0, 5000));
    h.engine.handle_bytes(text.substr(5000) + "\r\n");
    EXPECT_EQ(h.sent(), Lines{"PONG " + text});
}

TEST(Framing, InvalidUtf8IsReplacedAndTheLineUsed) {
    Harness h;
    h.engine.handle_bytes("PING :a\xff" "b\r\n");
    EXPECT_EQ(h.sent(), Lines{"PONG a\xEF\xBF\xBD" "b"});
}

TEST(Framing, UnparsableLinesAreCountedAndLeaveTimersAlone) {
    Harness h;
    h.engine.handle_connected();
    h.drain();
    h.engine.tick(1000, 0);
    h.engine.handle_bytes("\r\n");
    h.engine.handle_bytes(":only-a-source\r\n");
    EXPECT_EQ(h.engine.malformed_lines, 2u);
    EXPECT_EQ(h.engine.poll_timeout(), 30000u);
    h.recv("PING x");
    EXPECT_EQ(h.engine.poll_timeout(), 31000u);
}

TEST(Dispatch, CommandWordsMatchInAnyLetterCaseOnly) {
    Harness h;
    h.recv_all({"ping :x", "PiNg x"});
    EXPECT_EQ(h.sent(), (Lines{"PONG x", "PONG x"}));
    h.recv("PINGS x");
    EXPECT_TRUE(h.sent().empty());
    EXPECT_EQ(h.events(), Events{ev(Event::RawLine{msg("PINGS x")})});
}

TEST(Dispatch, PingAndPong) {
    Harness h;
    h.recv_all({"PING", "PING a b :c d", ":srv PONG srv :me"});
    EXPECT_EQ(h.sent(), (Lines{"PONG :", "PONG :c d"}));
    EXPECT_TRUE(h.events().empty());
}

TEST(Dispatch, RowsWithConditionsFallThroughToTheModel) {
    // Each of these fails its row's condition and reaches the model, which changes nothing.
    const char* lines[] = {
        "@+typing=active TAGMSG #a",          // no source
        ":bob!u@h TAGMSG #a",                 // no tag
        "@+typing :bob!u@h TAGMSG #a",        // tag without value
        ":srv TOKEN GENERATE svc endpoint",   // three parameters
        ":srv TOKEN generate svc ep tok",     // GENERATE is case-sensitive
        ":srv FAIL X",                        // one parameter
        ":srv 908 me PLAIN :are available",   // not a SASL outcome we consume
        ":srv 732 me :bob",
    };
    for (const char* line : lines) {
        Harness h;
        h.recv(line);
        EXPECT_EQ(h.events(), Events{ev(Event::RawLine{msg(line)})}) << line;
        EXPECT_TRUE(h.sent().empty()) << line;
    }
}

TEST(Dispatch, ConsumedWithoutEffectWhenTooShort) {
    const char* lines[] = {":srv 005 me :only text", ":srv CAP me", ":srv 900 me mask", ":srv 730 me",
                           "@+vantaweb/rtc=x TAGMSG #a", "@tesselnet/bot-info=x TAGMSG",
                           "@+draft/bot-cmds=x TAGMSG #a"};
    for (const char* line : lines) {
        Harness h;
        h.recv(line);
        EXPECT_TRUE(h.events().empty()) << line;
        EXPECT_TRUE(h.sent().empty()) << line;
    }
}

TEST(Dispatch, TokenGenerateAndStandardReplies) {
    Harness h;
    h.recv_all({
        ":srv TOKEN GENERATE files https://f.example tok extra",
        ":srv FAIL CHATHISTORY INVALID_TARGET #x :No such channel",
        ":srv warn A B c1 c2 :text here",
        ":srv NOTE X Y",
        ":srv NOTE X Y :Z",
    });
    EXPECT_EQ(h.events(), (Events{
                              ev(Event::AuthToken{"files", "https://f.example", "tok"}),
                              ev(Event::ServerReply{ReplySeverity::fail, "CHATHISTORY", "INVALID_TARGET", {"#x"},
                                                    "No such channel"}),
                              ev(Event::ServerReply{ReplySeverity::warn, "A", "B", {"c1", "c2"}, "text here"}),
                              ev(Event::ServerReply{ReplySeverity::note, "X", "Y", {}, "Y"}),
                              ev(Event::ServerReply{ReplySeverity::note, "X", "Y", {}, "Z"}),
                          }));
}

TEST(Dispatch, ConnectionMessagesInsideABatchAreHandledAtOnce) {
    Harness h;
    h.recv("BATCH +b1 custom");
    h.recv("@batch=b1 PING :inside");
    h.recv("@batch=b1 :srv NOTE A B :c");
    h.recv("@batch=b1 :bob!u@h PRIVMSG me :held");
    EXPECT_EQ(h.sent(), Lines{"PONG inside"});
    EXPECT_EQ(h.events(), (Events{ev(Event::ServerReply{ReplySeverity::note, "A", "B", {}, "c"})}));
    h.recv("BATCH -b1");
    auto events = h.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].value.index(), 6u);  // the held message reaches the model now
}

TEST(Dispatch, ARefusedDuplicateIsReportedWhole) {
    // A stored message takes its strings from the received line; a duplicate the log refuses
    // must still reach the host as the line it was, and the stored copy must stay whole.
    Harness h;
    h.register_with();
    h.recv_all({":me!u@h JOIN #a", ":bob!u@h JOIN #a"});
    h.drain();
    const std::string text = "a text well past the short-string size, so it lives on the heap";
    const std::string lines[] = {
        "@msgid=0123456789abcdefghijklmnopq;account=bob_the_long_account;time=2026-03-02T09:00:07.094Z "
        ":bob!u@h PRIVMSG #a :" + text,
        "@msgid=notice-0123456789abcdefghij;account=bob_the_long_account :bob!u@h NOTICE #a :" + text,
        "@msgid=private-0123456789abcdefghi;account=bob_the_long_account :bob!u@h PRIVMSG me :" + text,
    };
    for (const std::string& line : lines) {
        h.recv(line);
        ASSERT_EQ(kinds(h.events()), std::vector<std::size_t>{6}) << line;  // model_changed
        h.recv(line);
        EXPECT_EQ(h.events(), Events{ev(Event::RawLine{msg(line)})}) << line;
    }
    const auto& log = h.engine.model.channels.at("#a").log;
    ASSERT_EQ(log.messages.size(), 2u);
    for (const LogMessage& stored : log.messages) {
        EXPECT_EQ(stored.text(), text);
        EXPECT_EQ(stored.account(), "bob_the_long_account");
        EXPECT_TRUE(log.find(*stored.msgid()) == &stored);
    }
    const auto& conv = h.engine.model.conversations.at("bob").log;
    ASSERT_EQ(conv.messages.size(), 1u);
    EXPECT_EQ(conv.messages.begin()->msgid(), "private-0123456789abcdefghi");
    EXPECT_EQ(conv.messages.begin()->text(), text);
}

TEST(LabelStep, SettlesPendingRequests) {
    Harness h;
    h.register_with({"labeled-response"});
    EXPECT_EQ(h.engine.send_labeled(IrcMessage::make("WHOIS", "bob")), "l1");
    EXPECT_EQ(h.engine.send_labeled(IrcMessage::make("NOTICE", "bob", "x")), "l2");
    EXPECT_EQ(h.engine.send_labeled(IrcMessage::make("PRIVMSG", "bob", "y")), "l3");
    h.drain();

    // A labelled reply settles its request and still goes where it would anyway.
    h.recv("@label=l1 :srv PING :x");
    EXPECT_EQ(h.sent(), Lines{"PONG x"});
    EXPECT_EQ(h.engine.pending_labels.count("l1"), 0u);
    // Only the last label tag counts.
    h.recv("@label=l2;label=l9 :srv NOTE A B :c");
    EXPECT_EQ(h.engine.pending_labels.count("l2"), 1u);

    h.recv("@label=l2 BATCH +b1 labeled-response");
    EXPECT_EQ(h.engine.batch_labels.at("b1"), "l2");
    EXPECT_EQ(h.engine.pending_labels.at("l2").batch, "b1");
    h.recv("@batch=b1 :srv NOTICE me :answer");
    h.recv("BATCH -b1");
    h.events();
    EXPECT_TRUE(h.engine.batch_labels.empty());
    EXPECT_EQ(h.engine.pending_labels.count("l2"), 0u);

    // A batch refused for want of a type still links its label (to the empty reference); a
    // BATCH without parameters has no label handling at all. Expiry drops the link too.
    h.recv("@label=l3 BATCH +");
    EXPECT_EQ(h.engine.batch_labels.at(""), "l3");
    h.recv("@label=l3 BATCH");
    EXPECT_EQ(h.engine.pending_labels.count("l3"), 1u);
    h.engine.tick(40000, 0);
    h.sent();
    EXPECT_EQ(h.events(), (Events{ev(Event::CommandTimedOut{"PRIVMSG"})}));
    EXPECT_TRUE(h.engine.batch_labels.empty());
}

TEST(BadInput, RandomAndTruncatedLinesNeverBreakTheEngine) {
    // Fragments of real traffic, cut at random points and mixed with random bytes.
    std::vector<std::string> seeds = {
        "@time=2026-01-01T00:00:00.000Z;msgid=a;batch=b :nick!u@h PRIVMSG #chan :hello there\r\n",
        "BATCH +b chathistory #chan\r\n", "BATCH -b\r\n", "BATCH +m draft/multiline #chan\r\n",
        "@batch=m;draft/multiline-concat :n!u@h PRIVMSG #chan :more\r\n",
        ":srv CAP * LS * :sasl=PLAIN,SCRAM-SHA-256 multi-prefix labeled-response batch\r\n", ":srv CAP * ACK :sasl batch\r\n",
        "AUTHENTICATE +\r\n", "AUTHENTICATE Kg==\r\n", ":srv 904 me :fail\r\n", ":srv 001 me :hi\r\n",
        // SCRAM server-first (cheap iteration counts) and server-final messages.
        "AUTHENTICATE cj1ub25jZVhZWixzPVFVSkQsaT0y\r\n", "AUTHENTICATE aT0xLHM9LHI9bm9uY2VR\r\n",
        "AUTHENTICATE dj1BQUFBLGU9eA==\r\n",
        ":srv 005 me PREFIX=(ov)@+ CHANTYPES=# MONITOR=1 CASEMAPPING=ascii :ok\r\n",
        ":me!u@h JOIN #chan\r\n", ":n!u@h JOIN #chan * :real\r\n", ":srv 353 me = #chan :@me +n x\r\n",
        "@+typing=active :n!u@h TAGMSG #chan\r\n", ":srv 730 me :a,b!c@d,,\r\n", ":srv 731 me :a\r\n",
        ":srv RENAME #chan #new :why\r\n", ":n!u@h NICK :m\r\n", ":srv 433 * me :x\r\n",
        ":srv FAIL A B C :d\r\n", ":srv TOKEN GENERATE a b c\r\n", "@label=l1 :srv NOTICE me :x\r\n",
        ":srv CMDSLIST me :+a -b\r\n",
    };
    {  // Bot data: nesting past the reader's limit and just within it, a long array, repeated keys.
        std::string many = R"({"nick":"b","commands":[)";
        for (int i = 0; i < 100; ++i) many += R"({"name":"c","name":1,"description":[]},)";
        many += "7]}";
        const std::string bodies[] = {
            std::string(300, '[') + std::string(300, ']'),
            R"({"nick":"b","commands":)" + std::string(63, '[') + std::string(63, ']') + "}",
            many,
            R"({"nick":"b","nick":2,"event":"remove","event":"x","from_config":true,"from_config":false})",
        };
        for (const auto& body : bodies) {
            seeds.push_back("@tesselnet/bot-info=" + base64_encode(body) + " TAGMSG\r\n");
            seeds.push_back("@+draft/bot-cmds=" + base64_encode(body) + " :B!u@h TAGMSG #chan\r\n");
        }
    }
    {  // Voice frames: readable ones, and nesting, numbers, keys and bytes no reader should take.
        const std::string frames[] = {
            R"({"type":"joined","members":["me","n"],"role":"viewer","streamers":["n"],"turn":{"urls":"t","username":"u","password":"p"},"tracks":[{"mid":"0","member":"n"}]})",
            R"({"type":"presence","member":"n","state":"on","kind":"mic"})", R"({"type":"presence","member":"n","state":"left"})",
            R"({"type":"offer","sdp":"v=0 x;y","id":"c","seq":1.5e9,"total":-1})",
            R"({"type":"speaking","x":)" + std::string(3000, '['),
            R"({"type":"ice","cand":"c","mlineidx":99999999999999999999999})",
            R"({"type":"presence"})", R"({"type":"joined","members":"n"})",
            R"({"type":"role","type":"x","member":"n","member":1,"role":"viewer","role":"streamer"})",
            "{\"type\":\"join\",\"channel\":\"\xff\xfe\\ud800\"}", "{\"type\":\"mic\",\"state\":\"o\xc3\"}",
        };
        for (const auto& frame : frames) {
            std::string line = "@+vantaweb/rtc=";
            escape_tag_value(frame, line);
            seeds.push_back(line + " :n!u@h TAGMSG $stage\r\n");
        }
    }
    std::mt19937 rng(20240601);
    Config config = basic_config();
    config.sasl = Credentials{Credentials::Scram{"u", "p", "nonce"}};
    Engine engine(config);
    engine.handle_connected();
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 20000; ++round) {
        std::string chunk;
        int pieces = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < pieces; ++i) {
            const std::string& seed = seeds[rng() % seeds.size()];
            switch (rng() % 4) {
                case 0: chunk += seed; break;
                case 1: chunk += seed.substr(0, rng() % seed.size()); break;
                case 2: chunk += seed.substr(rng() % seed.size()); break;
                default:
                    for (int k = static_cast<int>(rng() % 40); k > 0; --k) chunk.push_back(static_cast<char>(byte(rng)));
            }
        }
        if (rng() % 50 == 0) chunk.append(5000 + rng() % 5000, 'q');
        engine.handle_bytes(chunk);
        if (round % 97 == 0) engine.tick(static_cast<std::uint64_t>(round) * 500, 0);
        if (round % 1013 == 0) {
            engine.handle_disconnected();
            engine.handle_connected();
        }
        while (engine.poll_transmit()) {
        }
        engine.poll_events();
        ASSERT_LT(engine.recv_buf.size(), kMaxLineBytes);
        ASSERT_LE(engine.batches.size(), engine.open_batch_limit);
        for (const auto& [ref, batch] : engine.batches) ASSERT_LE(batch.held.size(), engine.batch_message_limit);
    }
    EXPECT_GT(engine.malformed_lines, 0u);
}

}  // namespace
}  // namespace tessel::testing
