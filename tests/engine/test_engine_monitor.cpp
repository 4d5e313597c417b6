// The MONITOR watch list and presence replies.
#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<Event>;
using Set = std::set<std::string, std::less<>>;

TEST(Monitor, WatchAndUnwatchLines) {
    struct Case {
        std::string isupport;
        std::vector<std::string> nicks;
        Lines sent;
    };
    const Case cases[] = {
        {"", {"Mia", "bob"}, {"MONITOR + Mia,bob"}},
        {"MONITOR=2", {"a", "b", "c", "d", "e"}, {"MONITOR + a,b", "MONITOR + c,d", "MONITOR + e"}},
        {"MONITOR=0", {"a", "b"}, {"MONITOR + a", "MONITOR + b"}},
        {"", {"Bob", "BOB"}, {"MONITOR + Bob,BOB"}},
        {"", {}, {}},
    };
    for (const auto& c : cases) {
        Harness h;
        if (!c.isupport.empty()) h.recv(":srv 005 me " + c.isupport + " :ok");
        h.drain();
        h.engine.update_monitor(c.nicks, true);
        EXPECT_EQ(h.sent(), c.sent);
    }
    Harness h;
    h.engine.update_monitor({"Bob", "BOB", "Mia"}, true);
    EXPECT_EQ(h.engine.monitor_watched, (Set{"bob", "mia"}));
    h.recv(":srv 730 me :Mia");
    h.drain();
    h.engine.update_monitor({"MIA", "zed"}, false);
    EXPECT_EQ(h.sent(), Lines{"MONITOR - MIA,zed"});
    EXPECT_EQ(h.engine.monitor_watched, Set{"bob"});
    EXPECT_TRUE(h.engine.monitor_online.empty());
}

TEST(Monitor, LabelsNeverApply) {
    Harness h;
    h.register_with({"labeled-response"});
    h.engine.update_monitor({"a"}, true);
    EXPECT_EQ(h.sent(), Lines{"MONITOR + a"});
    EXPECT_TRUE(h.engine.pending_labels.empty());
}

TEST(Monitor, FoldsUnderTheCurrentCasemapping) {
    Harness h;
    h.engine.update_monitor({"Nick[1]"}, true);
    h.engine.update_monitor({"nick{1}"}, false);
    EXPECT_TRUE(h.engine.monitor_watched.empty());
}

TEST(Monitor, PresenceReplies) {
    Harness h;
    h.recv(":srv 730 me :Carol,dave!d@host,,");
    EXPECT_EQ(h.events(), (Events{ev(Event::PresenceChanged{"Carol", true}), ev(Event::PresenceChanged{"dave", true})}));
    EXPECT_EQ(h.engine.monitor_watched, (Set{"carol", "dave"}));
    EXPECT_EQ(h.engine.monitor_online, (Set{"carol", "dave"}));

    h.recv(":srv 731 me :Carol,erin");
    EXPECT_EQ(h.events(), (Events{ev(Event::PresenceChanged{"Carol", false}), ev(Event::PresenceChanged{"erin", false})}));
    EXPECT_EQ(h.engine.monitor_online, Set{"dave"});
    EXPECT_EQ(h.engine.monitor_watched, (Set{"carol", "dave"}));

    h.recv(":srv 730 me :dave");  // reported again although nothing changed
    EXPECT_EQ(h.events(), Events{ev(Event::PresenceChanged{"dave", true})});
    h.recv(":srv 730 me");
    EXPECT_TRUE(h.events().empty());
}

TEST(Monitor, DisconnectKeepsWatchListAndResendsItSorted) {
    Harness h;
    h.register_with();
    h.engine.update_monitor({"zed", "Amy"}, true);
    h.recv(":srv 730 me :zed");
    h.drain();
    h.engine.handle_disconnected();
    EXPECT_TRUE(h.engine.monitor_online.empty());
    h.engine.handle_connected();
    h.recv(":srv CAP * LS :");
    h.drain();
    h.recv(":srv 001 me :hi");
    EXPECT_EQ(h.sent(), Lines{"MONITOR + amy,zed"});
}

}  // namespace
}  // namespace tessel::testing
