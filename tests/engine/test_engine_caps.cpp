// CAP 302 negotiation.
#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<Event>;
using Values = std::map<std::string, std::optional<std::string>, std::less<>>;

struct Negotiation : ::testing::Test {
    Harness h;
    void SetUp() override {
        h.engine.handle_connected();
        h.drain();
    }
};

TEST_F(Negotiation, MultiLineLsThenRequestsInTableOrder) {
    h.recv(":srv CAP * LS * :multi-prefix sasl=PLAIN,EXTERNAL");
    EXPECT_TRUE(h.sent().empty());
    h.recv(":srv CAP * LS :away-notify foo");
    EXPECT_EQ(h.engine.caps.available, (Values{{"away-notify", std::nullopt},
                                               {"foo", std::nullopt},
                                               {"multi-prefix", std::nullopt},
                                               {"sasl", "PLAIN,EXTERNAL"}}));
    EXPECT_EQ(h.sent(), (Lines{"CAP REQ multi-prefix", "CAP REQ away-notify", "CAP REQ sasl"}));

    h.recv(":srv CAP * ACK :multi-prefix sasl");
    EXPECT_EQ(h.events(), Events{ev(Event::CapabilitiesAcknowledged{{"multi-prefix", "sasl"}})});
    EXPECT_EQ(h.engine.caps.enabled.at("sasl"), "PLAIN,EXTERNAL");
    EXPECT_EQ(h.engine.caps.requested, Lines{"away-notify"});
    EXPECT_TRUE(h.sent().empty());  // still waiting for away-notify

    h.recv(":srv CAP * NAK :away-notify");
    EXPECT_EQ(h.sent(), Lines{"CAP END"});  // no credentials configured
    EXPECT_EQ(h.engine.link, LinkState::Registering);
    EXPECT_EQ(h.engine.sasl, SaslState::Idle);
}

TEST_F(Negotiation, AckForms) {
    h.recv(":srv CAP * LS :multi-prefix sasl=PLAIN batch");
    h.drain();
    h.recv(":srv CAP me ack :sasl=SCRAM-SHA-256 -multi-prefix batch batch");
    EXPECT_EQ(h.events(), Events{ev(Event::CapabilitiesAcknowledged{{"sasl", "batch", "batch"}})});
    EXPECT_EQ(h.engine.caps.enabled, (Values{{"batch", std::nullopt}, {"sasl", "SCRAM-SHA-256"}}));
    EXPECT_EQ(h.sent(), Lines{"CAP END"});

    // A removal alone reports nothing but still moves negotiation on (here: nothing left to do).
    h.recv(":srv CAP * ACK :-batch");
    EXPECT_TRUE(h.events().empty());
    EXPECT_FALSE(h.engine.caps.is_enabled("batch"));
}

TEST_F(Negotiation, ListsSplitAtAnyUnicodeWhiteSpace) {
    h.recv(":srv CAP * LS :batch\u3000echo-message\u00a0\tserver-time  ");
    EXPECT_EQ(h.sent(), (Lines{"CAP REQ server-time", "CAP REQ batch", "CAP REQ echo-message"}));
}

TEST_F(Negotiation, NothingWantedEndsAtOnce) {
    h.recv(":srv CAP * LS :foo bar=1");
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
}

TEST_F(Negotiation, PlaybackCapabilityIsWantedUnderItsVendorName) {
    h.recv(":srv CAP * LS :znc.in/playback playback");
    EXPECT_EQ(h.sent(), Lines{"CAP REQ znc.in/playback"});
}

TEST_F(Negotiation, NewAndDelAfterRegistration) {
    h.recv(":srv CAP * LS :batch");
    h.recv(":srv CAP * ACK :batch");
    h.recv(":srv 001 me :hi");
    h.drain();
    h.recv(":srv CAP * NEW :draft/typing batch");
    EXPECT_EQ(h.sent(), Lines{"CAP REQ draft/typing"});
    h.recv(":srv CAP * NEW :draft/typing");  // already requested
    EXPECT_TRUE(h.sent().empty());
    h.recv(":srv CAP * ACK :draft/typing");
    EXPECT_EQ(h.events(), Events{ev(Event::CapabilitiesAcknowledged{{"draft/typing"}})});
    EXPECT_TRUE(h.sent().empty());  // no second CAP END
    h.recv(":srv CAP * DEL :draft/typing");
    EXPECT_FALSE(h.engine.caps.is_enabled("draft/typing"));
    EXPECT_EQ(h.engine.caps.available.count("draft/typing"), 0u);
    EXPECT_EQ(h.engine.link, LinkState::Registered);
}

TEST_F(Negotiation, NewDuringAListingWaitsForItsLastLine) {
    h.recv(":srv CAP * LS * :batch");
    h.recv(":srv CAP * NEW :echo-message");
    h.recv(":srv CAP * NEW :bar");
    EXPECT_TRUE(h.sent().empty());
    h.recv(":srv CAP * LS :foo");
    EXPECT_EQ(h.sent(), (Lines{"CAP REQ batch", "CAP REQ echo-message"}));
    h.recv(":srv CAP * ACK :batch echo-message");
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
}

// A raw CAP line the host sent ahead of the burst is answered before the listing: what it
// enables is kept, and negotiation goes on only from the listing's last line.
TEST(NegotiationEarlyReply, WaitsForTheListing) {
    struct Case {
        const char* what;
        std::vector<std::string> before_listing;  // server lines
        Events events;
        Values enabled;
    };
    const Case cases[] = {
        {"ACK", {"CAP * ACK :extended-join"}, {ev(Event::CapabilitiesAcknowledged{{"extended-join"}})},
         {{"extended-join", std::nullopt}}},
        {"NAK", {"CAP * NAK :extended-join"}, {}, {}},
        {"ACK inside a listing",
         {"CAP * LS * :extended-join", "CAP * ACK :extended-join"},
         {ev(Event::CapabilitiesAcknowledged{{"extended-join"}})},
         {{"extended-join", std::nullopt}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Config config = basic_config();
        config.sasl = Credentials{Credentials::Plain{"acct", "pw"}};
        Harness h(config);
        h.engine.execute(Command::SendRawLine{"CAP REQ :extended-join"});
        h.engine.handle_connected();
        EXPECT_EQ(h.sent(), (Lines{"CAP REQ extended-join", "CAP LS 302", "NICK me", "USER u 0 * R"}));
        for (const std::string& line : c.before_listing) h.recv(line);
        EXPECT_EQ(h.events(), c.events);
        EXPECT_EQ(h.engine.caps.enabled, c.enabled);
        EXPECT_TRUE(h.sent().empty());
        EXPECT_EQ(h.engine.link, LinkState::Negotiating);

        h.recv("CAP * LS :sasl");
        EXPECT_EQ(h.sent(), Lines{"CAP REQ sasl"});
        h.recv("CAP * ACK :sasl");
        EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE PLAIN"});
        EXPECT_EQ(h.engine.sasl, SaslState::MechanismSent);
    }

    // A new link waits for its own listing, whatever the last one heard.
    Harness h;
    h.register_with();
    h.engine.handle_connected();
    h.drain();
    h.recv("CAP * ACK :batch");
    EXPECT_TRUE(h.sent().empty());
    h.recv("CAP * LS :");
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
}

TEST_F(Negotiation, DelKeepsRequestsAndOtherSubcommandsDoNothing) {
    h.recv(":srv CAP * LS :sasl batch");
    h.drain();
    h.recv(":srv CAP * DEL :sasl");
    EXPECT_EQ(h.engine.caps.requested, (Lines{"batch", "sasl"}));
    h.recv(":srv CAP * LIST :batch");
    h.recv(":srv CAP * :batch");
    EXPECT_TRUE(h.sent().empty());
    EXPECT_TRUE(h.events().empty());
    EXPECT_TRUE(h.engine.caps.enabled.empty());
}

TEST_F(Negotiation, LaterOfferReplacesValue) {
    h.recv(":srv CAP * LS * :sasl");
    h.recv(":srv CAP * LS * :sasl=PLAIN");
    EXPECT_EQ(h.engine.caps.available.at("sasl"), "PLAIN");
}

TEST(NegotiationSasl, MechanismChoice) {
    struct Case {
        std::optional<Credentials> credentials;
        std::string offer;
        Lines sent;
        Events events;
    };
    const Credentials plain{Credentials::Plain{"u", "p"}};
    const Case cases[] = {
        {plain, "sasl=scram-sha-256,plain", {"AUTHENTICATE PLAIN"}, {}},
        {plain, "sasl=EXTERNAL", {"CAP END"}, {ev(Event::SaslFailed{SaslFailure::no_shared_mechanism})}},
        {plain, "sasl", {"AUTHENTICATE PLAIN"}, {}},
        {plain, "sasl=", {"AUTHENTICATE PLAIN"}, {}},
        {Credentials{Credentials::External{}}, "sasl=PLAIN,external", {"AUTHENTICATE EXTERNAL"}, {}},
        {Credentials{Credentials::Scram{"u", "p", "n"}}, "sasl=SCRAM-SHA-256", {"AUTHENTICATE SCRAM-SHA-256"}, {}},
        {std::nullopt, "sasl=PLAIN", {"CAP END"}, {}},
    };
    for (const auto& c : cases) {
        Config config = basic_config();
        config.sasl = c.credentials;
        Harness h(config);
        h.engine.handle_connected();
        h.recv(":srv CAP * LS :" + c.offer);
        h.drain();
        h.recv(":srv CAP * ACK :sasl");
        auto events = h.events();
        events.erase(events.begin());  // capabilities_acknowledged
        EXPECT_EQ(h.sent(), c.sent) << c.offer;
        EXPECT_EQ(events, c.events) << c.offer;
    }

    // Credentials without the capability: straight to CAP END.
    Config config = basic_config();
    config.sasl = plain;
    Harness h(config);
    h.engine.handle_connected();
    h.drain();
    h.recv(":srv CAP * LS :batch");
    h.recv(":srv CAP * ACK :batch");
    EXPECT_EQ(h.sent(), (Lines{"CAP REQ batch", "CAP END"}));
    EXPECT_EQ(h.engine.sasl, SaslState::Idle);
}

}  // namespace
}  // namespace tessel::testing
