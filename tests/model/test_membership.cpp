#include <random>

#include "model_fixture.hpp"
#include "tessel_client/model/whois.hpp"

namespace tessel::test {
namespace {

class Membership : public ModelTest {
protected:
    void SetUp() override {
        setup({":me!u@h JOIN #a", ":me!u@h JOIN #b", ":x 353 me = #a :me @bob carol", ":x 353 me = #b :+bob"});
    }
};

TEST_F(Membership, Kick) {
    EXPECT_EQ(feed(":op!u@h KICK #a"), Changes{});
    EXPECT_EQ(feed(":op!u@h KICK #A Carol :bye"), Changes{members("#A")});
    EXPECT_EQ(member_keys("#a"), (std::vector<std::string>{"bob", "me"}));
    EXPECT_FALSE(model.people.contains("carol"));  // pruned: shares nothing now
    EXPECT_EQ(feed(":op!u@h KICK #nowhere bob"), Changes{members("#nowhere")});
    EXPECT_EQ(feed(":op!u@h KICK #b ME"), Changes{parted("#b")});
    EXPECT_FALSE(model.channels.contains("#b"));
    EXPECT_EQ(feed(":op!u@h KICK #never me"), Changes{parted("#never")});
}

TEST_F(Membership, QuitReportsEveryChannelAsStored) {
    setup({":me!u@h JOIN #C"});
    feed(":x 353 me = #c :bob");
    EXPECT_EQ(feed(":BOB!u@h QUIT :gone"), (Changes{members("#a"), members("#b"), members("#C")}));
    EXPECT_FALSE(model.people.contains("bob"));
    EXPECT_EQ(feed(":nobody!u@h QUIT"), Changes{});
    EXPECT_EQ(feed("QUIT :sourceless"), Changes{});
    EXPECT_TRUE(model.people.contains("carol"));
}

TEST_F(Membership, NickMovesMembersConversationAndPerson) {
    setup({":bob!u@h PRIVMSG me :hi", ":dan!u@h PRIVMSG me :old conversation"});
    EXPECT_EQ(feed(":bob!u@h NICK Dan"), Changes{nick("bob", "Dan")});
    EXPECT_EQ(member_keys("#a"), (std::vector<std::string>{"carol", "dan", "me"}));
    EXPECT_EQ(chan("#a").members.at("dan").prefixes, "@");
    EXPECT_EQ(chan("#b").members.at("dan").prefixes, "+");
    EXPECT_FALSE(model.conversations.contains("bob"));
    EXPECT_EQ(conv("dan").nick, "Dan");
    EXPECT_EQ(conv("dan").log.messages.begin()->text(), "hi");  // the old one is replaced
    EXPECT_EQ(model.people.at("dan").nick, "Dan");
    EXPECT_FALSE(model.people.contains("bob"));
    EXPECT_EQ(model.me.nick, "me");

    EXPECT_EQ(feed(":dan!u@h NICK DAN"), Changes{nick("dan", "DAN")});  // case only
    EXPECT_EQ(conv("dan").nick, "DAN");
    EXPECT_EQ(model.people.at("dan").nick, "DAN");

    // A member moving onto an existing member replaces its prefixes.
    EXPECT_EQ(feed(":carol!u@h NICK dan"), Changes{nick("carol", "dan")});
    EXPECT_EQ(chan("#a").members.at("dan").prefixes, "");

    EXPECT_EQ(feed(":ME!u@h NICK me2"), Changes{nick("ME", "me2")});
    EXPECT_EQ(model.me.nick, "me2");
    EXPECT_EQ(feed(":ghost!u@h NICK spirit"), Changes{nick("ghost", "spirit")});
    EXPECT_EQ(feed(":ghost!u@h NICK"), Changes{});
}

TEST_F(Membership, PruneKeepsConversationsAndOwnNick) {
    // People met outside any channel (AWAY, a WHO row for no channel, METADATA) go as well.
    setup({":carol!u@h PRIVMSG me :hi", ":x 311 me zed u h * :Zed", ":stranger!u@h AWAY :x",
           ":x 352 me * u h s dan H :0 Dan", ":x METADATA eve k * :v"});
    model.erase_member("#a", chan("#a"), "me");  // the own person is then kept by its nick alone
    ASSERT_TRUE(model.people.contains("me"));
    feed(":carol!u@h PART #a");
    feed(":x 318 me zed :End");
    feed(":bob!u@h QUIT");
    EXPECT_EQ(people_keys(), (std::vector<std::string>{"carol", "me"}));
    EXPECT_FALSE(model.whois.contains("zed"));
    // The own-nick exception compares the stored nick byte for byte.
    model.me.nick = "ME";
    feed(":x PART #a");
    EXPECT_EQ(people_keys(), (std::vector<std::string>{"carol"}));
}

TEST_F(Membership, WhoisStillArrivingIsNotPruned) {
    setup({":x 311 me Zed u h * :Zed", ":x 319 me zed :#q"});
    feed(":carol!u@h PART #a");
    ASSERT_TRUE(model.whois.contains("zed"));
    EXPECT_EQ(feed(":x 318 me zed :End"), Changes{whois("zed")});
    EXPECT_EQ(model.whois.at("zed").realname, "Zed");
    EXPECT_EQ(model.whois.at("zed").channels, std::vector<std::string>{"#q"});
    feed(":bob!u@h PART #a");
    EXPECT_FALSE(model.whois.contains("zed"));
}

TEST_F(Membership, DisconnectThenPruneDropsEveryStranger) {
    setup({":carol!u@h PRIVMSG me :hi"});
    model.clear_members();
    model.whois.clear();
    feed(":x PART #a");
    EXPECT_EQ(people_keys(), (std::vector<std::string>{"carol", "me"}));
    // Members cleared behind the model's back are noticed as well.
    setup({":x 353 me = #a :dan eve"});
    for (auto& [key, channel] : model.channels) channel.members.clear();
    feed(":x PART #a");
    EXPECT_EQ(people_keys(), (std::vector<std::string>{"carol", "me"}));
    setup({":x 353 me = #b :fay"});
    EXPECT_EQ(feed(":fay!u@h QUIT"), Changes{members("#b")});
}

// Floods of records that no QUIT, PART or KICK follows: the keys waiting for the next pruning
// never outnumber the records still held, so the index stays as small as the model.
TEST_F(Membership, PruneCandidatesStayWithinTheRecords) {
    struct Flood {
        const char* name;
        std::size_t steps;
        void (*step)(Model&, const Isupport&, std::size_t);
    };
    const Flood floods[] = {
        {"complete WHOIS of distinct nicks", 1'000'000,
         [](Model& m, const Isupport& is, std::size_t i) {
             const std::string n = "n" + std::to_string(i);
             reduce_whois_reply(m, is, {"me", n, "u", "h", "*", "r"}, "311");
             reduce_whois_reply(m, is, {"me", n, "End"}, "318");
         }},
        {"a member renamed on and on", 100'000,
         [](Model& m, const Isupport& is, std::size_t i) {
             m.rename_nick(is.casemapping, i == 0 ? "carol" : "c" + std::to_string(i - 1), "c" + std::to_string(i));
         }},
    };
    for (const Flood& flood : floods) {
        SCOPED_TRACE(flood.name);
        model = Model::make("me", 5000);
        SetUp();
        for (std::size_t i = 0; i < flood.steps; ++i) {
            flood.step(model, isupport, i);
            if (i % 1000 == 0) {
                ASSERT_LE(model.prune_candidates(), model.people.size() + model.whois.size()) << i;
            }
        }
        EXPECT_LE(model.whois.size(), Model::kMaxWhois);
        EXPECT_LE(model.prune_candidates(), model.people.size() + model.whois.size());
        // What the flood left is still pruned as the rule says.
        feed(":bob!u@h PART #a");
        EXPECT_TRUE(model.whois.empty());
    }
}

// The incremental pruning must leave exactly what a full pass of the rule leaves: a copy forced
// into a full pass (by a record added behind its back) takes every step alongside.
TEST_F(Membership, IncrementalPruningMatchesFullPass) {
    const std::vector<std::string> nicks = {"me", "Me", "bob", "BOB", "carol", "dan", "eve", "fay"};
    const std::vector<std::string> chans = {"#a", "#b", "#c", "#d"};
    std::mt19937 rng(20240501);
    auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
    for (int step = 0; step < 4000; ++step) {
        const std::string n = pick(nicks), m = pick(nicks), c = pick(chans), d = pick(chans);
        std::string line;
        switch (rng() % 16) {
            case 0: line = ":" + n + "!u@h JOIN " + c; break;
            case 1: line = ":" + n + "!u@h PART " + c; break;
            case 2: line = ":" + n + "!u@h KICK " + c + " " + m; break;
            case 3: line = ":" + n + "!u@h QUIT :q"; break;
            case 4: line = ":" + n + "!u@h NICK " + m; break;
            case 5: line = ":" + n + "!u@h AWAY :x"; break;
            case 6: line = ":" + n + "!u@h PRIVMSG " + m + " :hi"; break;
            case 7: line = ":x 353 me = " + c + " :@" + n + " " + m; break;
            case 8: line = ":x 352 me * u h s " + n + " H :0 r"; break;
            case 9: line = ":x 311 me " + n + " u h * :r"; break;
            case 10: line = ":x 318 me " + n + " :End"; break;
            case 11: line = ":x RENAME " + c + " " + d + " :r"; break;
            case 12: line = ":x METADATA " + n + " k * :v"; break;
            case 13: line = ":me!u@h JOIN " + c; break;
            default: break;
        }
        Model reference = model;
        reference.people.emplace("\x01", Person{});  // forces a full pass at its next pruning
        if (line.empty()) {
            // What the engine does to the model directly.
            switch (rng() % 4) {
                case 0: model.clear_members(); reference.clear_members(); break;
                case 1: model.whois.clear(); reference.whois.clear(); break;
                case 2: model.me.nick = n; reference.me.nick = n; break;
                default:
                    if (auto it = model.channels.find(c); it != model.channels.end()) {
                        it->second.members.clear();
                        reference.channels.at(c).members.clear();
                    }
                    break;
            }
        } else {
            auto message = parse_line(line);
            ASSERT_TRUE(message);
            std::uint64_t clock = unix_ms;
            ReduceContext a{model, isupport, unix_ms, false};
            ReduceContext b{reference, isupport, clock, false};
            ASSERT_EQ(reduce_message(a, *message), reduce_message(b, *message)) << line;
        }
        reference.people.erase("\x01");
        ASSERT_EQ(model, reference) << "step " << step << ": " << line;
    }
}

}  // namespace
}  // namespace tessel::test
