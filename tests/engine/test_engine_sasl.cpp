// SASL PLAIN, EXTERNAL and SCRAM-SHA-256 through handle_bytes, payload chunking, and failures.
#include <random>

#include "tessel_client/engine/base64.hpp"
#include "engine_harness.hpp"

namespace tessel::testing {
namespace {

using Lines = std::vector<std::string>;
using Events = std::vector<Event>;

// Connected with "sasl" acknowledged and the mechanism sent; queues drained.
Harness sasl_harness(Credentials credentials) {
    Config config = basic_config();
    config.sasl = std::move(credentials);
    Harness h(config);
    h.engine.handle_connected();
    h.recv(":srv CAP * LS :sasl");
    h.recv(":srv CAP * ACK :sasl");
    EXPECT_EQ(h.engine.sasl, SaslState::MechanismSent);
    h.drain();
    return h;
}

TEST(Sasl, ExternalThenSuccess) {
    Harness h = sasl_harness(Credentials{Credentials::External{}});
    h.recv("AUTHENTICATE +");
    EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE +"});
    EXPECT_EQ(h.engine.sasl, SaslState::PayloadSent);
    h.recv(":srv 903 me :SASL authentication successful");
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
    EXPECT_EQ(h.engine.link, LinkState::Registering);
}

TEST(Sasl, PlainIgnoresWhateverTheServerSent) {
    Harness h = sasl_harness(Credentials{Credentials::Plain{"user", "pencil"}});
    h.recv("AUTHENTICATE Zm9v");
    EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE AHVzZXIAcGVuY2ls"});
    h.recv("AUTHENTICATE Zm9v");  // valid base64 while waiting for the outcome: nothing
    EXPECT_TRUE(h.sent().empty());
    EXPECT_TRUE(h.events().empty());
}

TEST(Sasl, NoParameterCountsAsPlus) {
    Harness h = sasl_harness(Credentials{Credentials::External{}});
    h.recv("AUTHENTICATE");
    EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE +"});
}

TEST(Sasl, PayloadsAreCutInto400CharacterPieces) {
    struct Case {
        std::size_t payload_bytes;
        std::vector<std::size_t> piece_sizes;  // lengths of the base64 pieces
        bool terminator;                       // a closing "AUTHENTICATE +"
    };
    const Case cases[] = {{3, {4}, false}, {300, {400}, true}, {303, {400, 4}, false}, {600, {400, 400}, true}};
    for (const auto& c : cases) {
        Engine engine(basic_config());
        send_authenticate(engine, std::string(c.payload_bytes, 'x'));
        std::vector<std::size_t> sizes;
        bool terminator = false;
        while (auto line = engine.poll_transmit()) {
            ASSERT_TRUE(line->starts_with("AUTHENTICATE "));
            std::string piece = line->substr(13, line->size() - 15);
            if (piece == "+") {
                EXPECT_FALSE(engine.poll_transmit());
                terminator = true;
                break;
            }
            sizes.push_back(piece.size());
        }
        EXPECT_EQ(sizes, c.piece_sizes) << c.payload_bytes;
        EXPECT_EQ(terminator, c.terminator) << c.payload_bytes;
    }
    Engine engine(basic_config());
    send_authenticate(engine, "");
    EXPECT_EQ(engine.poll_transmit(), "AUTHENTICATE +\r\n");
}

const Credentials kRfc7677{Credentials::Scram{"user", "pencil", "rOprNGfwEbeRWgbNEkqO"}};
constexpr const char* kServerFirst =
    "AUTHENTICATE cj1yT3ByTkdmd0ViZVJXZ2JORWtxTyVodllEcFdVYTJSYVRDQWZ1eEZJbGopaE5sRiRrMCxzPVcyMlphSjBTTlk3c29Fc1VF"
    "amI2Z1E9PSxpPTQwOTY=";
constexpr const char* kClientFinal =
    "AUTHENTICATE Yz1iaXdzLHI9ck9wck5HZndFYmVSV2diTkVrcU8laHZZRHBXVWEyUmFUQ0FmdXhGSWxqKWhObEYkazAscD1kSHpiWmFwV0lr"
    "NGpVaE4rVXRlOXl0YWc5empmTUhnc3FtbWl6N0FuZFZRPQ==";

TEST(SaslScram, Rfc7677ExchangeEndToEnd) {
    Harness h = sasl_harness(kRfc7677);
    h.recv("AUTHENTICATE +");
    EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE biwsbj11c2VyLHI9ck9wck5HZndFYmVSV2diTkVrcU8="});
    EXPECT_EQ(h.engine.sasl, SaslState::ScramFirstSent);
    h.recv(kServerFirst);
    EXPECT_EQ(h.sent(), Lines{kClientFinal});
    EXPECT_EQ(h.engine.sasl, SaslState::ScramFinalSent);
    h.recv("AUTHENTICATE dj02cnJpVFJCaTIzV3BSUi93dHVwK21NaFVaVW4vZEI1bkxUSlJzamw5NUc0PQ==");
    EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE +"});
    EXPECT_EQ(h.engine.sasl, SaslState::PayloadSent);
    EXPECT_FALSE(h.engine.scram);
    EXPECT_TRUE(h.events().empty());
    h.recv(":srv 900 me me!u@h user :You are now logged in as user");
    h.recv(":srv 903 me :SASL authentication successful");
    EXPECT_EQ(h.events(), Events{ev(Event::LoggedIn{"user"})});
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
}

TEST(SaslScram, ForgedServerFinalIsNotVerified) {
    Harness h = sasl_harness(kRfc7677);
    h.recv("AUTHENTICATE +");
    h.recv(kServerFirst);
    h.drain();
    h.recv("AUTHENTICATE dj1BQUFBVFJCaTIzV3BSUi93dHVwK21NaFVaVW4vZEI1bkxUSlJzamw5NUc0PQ==");
    EXPECT_EQ(h.events(), Events{ev(Event::SaslFailed{SaslFailure::server_not_verified})});
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
    EXPECT_EQ(h.engine.sasl, SaslState::Finished);
    EXPECT_FALSE(h.engine.scram);
}

TEST(SaslScram, UnusableServerFirstIsRejected) {
    Harness h = sasl_harness(kRfc7677);
    h.recv("AUTHENTICATE +");
    h.drain();
    // The server nonce does not extend ours.
    h.recv("AUTHENTICATE cj1yT3ByTkdmd0ViZVJXZ2JORWtxTyxzPVcyMlphSjBTTlk3c29Fc1VFamI2Z1E9PSxpPTQwOTY=");
    EXPECT_EQ(h.events(), Events{ev(Event::SaslFailed{SaslFailure::rejected})});
    EXPECT_EQ(h.sent(), Lines{"CAP END"});
}

TEST(SaslScram, StepWithoutStateAborts) {
    Harness h = sasl_harness(kRfc7677);
    h.recv("AUTHENTICATE +");
    h.drain();
    h.engine.scram.reset();
    h.recv(kServerFirst);
    EXPECT_EQ(h.events(), Events{ev(Event::SaslFailed{SaslFailure::aborted})});
}

TEST(SaslScram, ReconnectStartsAFreshExchange) {
    Harness h = sasl_harness(kRfc7677);
    h.recv("AUTHENTICATE +");
    h.recv(kServerFirst);
    h.engine.handle_disconnected();
    EXPECT_EQ(h.engine.sasl, SaslState::Idle);
    h.engine.handle_connected();
    h.recv(":srv CAP * LS :sasl");
    h.recv(":srv CAP * ACK :sasl");
    h.drain();
    h.recv("AUTHENTICATE +");
    EXPECT_EQ(h.sent(), Lines{"AUTHENTICATE biwsbj11c2VyLHI9ck9wck5HZndFYmVSV2diTkVrcU8="});
}

TEST(SaslScram, MutatedServerMessagesEndTheExchangeCleanly) {
    // Server messages damaged before (or after) their base64: every step ends in exactly one
    // of its outcomes. The iteration count stays a single digit, so each round is cheap.
    const std::string server_first = "r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,s=W22ZaJ0SNY7soEsUEjb6gQ==,i=2";
    const std::string server_final = "v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4=";
    std::mt19937 rng(7677);
    // Bytes from `low` up: the base64 text on the line must keep a line a line.
    auto damage = [&](std::string text, int low = 0) {
        switch (rng() % 3) {
            case 0: text.resize(rng() % text.size()); break;
            case 1: text.erase(rng() % text.size(), 1 + rng() % 4); break;
            default:
                for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k)
                    text[rng() % text.size()] = static_cast<char>(low + static_cast<int>(rng() % (256 - low)));
        }
        return text;
    };
    auto authenticate = [&](const std::string& plain) {
        std::string data = plain.empty() ? "+" : base64_encode(plain);
        if (rng() % 5 == 0) data = damage(data, '!');  // usually no longer base64
        return "AUTHENTICATE " + (data.empty() ? "+" : data);
    };
    int client_finals = 0;
    for (int round = 0; round < 400; ++round) {
        Harness h = sasl_harness(kRfc7677);
        h.recv("AUTHENTICATE +");
        h.drain();

        h.recv(authenticate(rng() % 4 == 0 ? server_first : damage(server_first)));
        Lines sent = h.sent();
        Events events = h.events();
        if (h.engine.sasl == SaslState::ScramFinalSent) {
            ASSERT_EQ(sent.size(), 1u);
            ASSERT_TRUE(events.empty());
            auto final_text = base64_decode(sent[0].substr(13));
            ASSERT_TRUE(final_text && final_text->starts_with("c=biws,r=rOprNGfwEbeRWgbNEkqO")) << sent[0];
            ++client_finals;
        } else {
            ASSERT_EQ(h.engine.sasl, SaslState::Finished);
            ASSERT_EQ(sent, Lines{"CAP END"});
            ASSERT_EQ(events.size(), 1u);
            const auto reason = std::get<Event::SaslFailed>(events[0].value).reason;
            ASSERT_TRUE(reason == SaslFailure::rejected || reason == SaslFailure::aborted);
            continue;
        }

        h.recv(authenticate(damage(server_final)));
        sent = h.sent();
        events = h.events();
        ASSERT_EQ(h.engine.sasl, SaslState::Finished);
        ASSERT_EQ(sent, Lines{"CAP END"});
        ASSERT_EQ(events.size(), 1u);
        const auto reason = std::get<Event::SaslFailed>(events[0].value).reason;
        ASSERT_TRUE(reason == SaslFailure::server_not_verified || reason == SaslFailure::aborted);
    }
    EXPECT_GT(client_finals, 50);  // the final step was reached often enough to mean something
}

TEST(SaslFailures, EachEndsTheExchangeOnce) {
    struct Case {
        std::string line;
        SaslFailure reason;
    };
    const Case cases[] = {
        {":srv 904 me :failed", SaslFailure::rejected},
        {":srv 905 me :too long", SaslFailure::too_long},
        {":srv 906 me :aborted", SaslFailure::aborted},
        {":srv 907 me :already", SaslFailure::already_authenticated},
        {"AUTHENTICATE *", SaslFailure::aborted},
        {"AUTHENTICATE Zm9=", SaslFailure::aborted},  // non-canonical trailing bits
    };
    for (const auto& c : cases) {
        Harness h = sasl_harness(Credentials{Credentials::Plain{"u", "p"}});
        h.recv("AUTHENTICATE +");
        h.drain();
        h.recv(c.line);
        EXPECT_EQ(h.events(), Events{ev(Event::SaslFailed{c.reason})}) << c.line;
        EXPECT_EQ(h.sent(), Lines{"CAP END"}) << c.line;
        EXPECT_EQ(h.engine.sasl, SaslState::Finished);
        // Finished ends SASL for the connection.
        h.recv_all({":srv 904 me :again", "AUTHENTICATE *", ":srv 903 me :ok", "AUTHENTICATE +"});
        EXPECT_TRUE(h.events().empty()) << c.line;
        EXPECT_TRUE(h.sent().empty()) << c.line;
    }
}

TEST(SaslFailures, OutsideAnExchange) {
    Harness h;
    h.register_with();
    h.recv(":srv 904 me :failed");
    EXPECT_EQ(h.events(), Events{ev(Event::SaslFailed{SaslFailure::rejected})});
    h.recv(":srv 904 me :failed");
    EXPECT_TRUE(h.events().empty());
    EXPECT_TRUE(h.sent().empty());  // the link is past negotiation: no CAP END

    Harness idle;
    idle.recv("AUTHENTICATE *");
    EXPECT_EQ(idle.events(), Events{ev(Event::SaslFailed{SaslFailure::aborted})});
    EXPECT_EQ(idle.engine.sasl, SaslState::Finished);
}

}  // namespace
}  // namespace tessel::testing
