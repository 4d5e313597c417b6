#include "tessel_client/engine/scram.hpp"

#include <gtest/gtest.h>

#include <string>

#include "tessel_client/engine/base64.hpp"

namespace tessel {
namespace {

// The example exchange of RFC 7677, section 3.
constexpr const char* kNonce = "rOprNGfwEbeRWgbNEkqO";
constexpr const char* kServerNonce = "rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0";
constexpr const char* kSalt = "W22ZaJ0SNY7soEsUEjb6gQ==";
constexpr const char* kServerFirst =
    "r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096";
constexpr const char* kClientFinal =
    "c=biws,r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,"
    "p=dHzbZapWIk4jUhN+Ute9ytag9zjfMHgsqmmiz7AndVQ=";
constexpr const char* kServerFinal = "v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4=";
constexpr const char* kSignature = "6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4=";

ScramState first_state() { return scram_client_first("user", "pencil", kNonce).first; }

ScramState finished_state() {
    ScramState state = first_state();
    const auto final_message = scram_client_final(state, kServerFirst);
    EXPECT_EQ(std::get<std::string>(final_message), kClientFinal);
    return state;
}

std::string server_first(std::string_view r, std::string_view s, std::string_view i) {
    return "r=" + std::string(r) + ",s=" + std::string(s) + ",i=" + std::string(i);
}

TEST(Scram, Rfc7677Exchange) {
    auto [state, bare] = scram_client_first("user", "pencil", kNonce);
    EXPECT_EQ(bare, "n=user,r=rOprNGfwEbeRWgbNEkqO");
    EXPECT_EQ(state, (ScramState{bare, kNonce, "pencil", std::nullopt, std::nullopt}));

    const auto final_message = scram_client_final(state, kServerFirst);
    ASSERT_TRUE(std::holds_alternative<std::string>(final_message));
    EXPECT_EQ(std::get<std::string>(final_message), kClientFinal);
    ASSERT_TRUE(state.server_key.has_value());
    EXPECT_EQ(state.server_key->size(), 32u);
    EXPECT_EQ(state.auth_message,
              std::string("n=user,r=rOprNGfwEbeRWgbNEkqO,") + kServerFirst + ",c=biws,r=" +
                  kServerNonce);

    EXPECT_EQ(scram_verify_server_final(state, kServerFinal), std::nullopt);
}

TEST(Scram, ClientFirstNonceAndUsername) {
    const struct {
        std::string username;
        std::string nonce;
        std::string bare;
    } cases[] = {
        {"a=b,c", "abc", "n=a=3Db=2Cc,r=abc"},
        {",=", "abc", "n==2C=3D,r=abc"},  // the "=" of an inserted "=2C" stays as it is
        {"user", "abcdefghijklmnopqrstuvwxyz0123", "n=user,r=abcdefghijklmnopqrstuvwx"},
        {"user", "a-b_c d!e+f/g=h", "n=user,r=abcdefgh"},
        {"user", "!!!-_", "n=user,r=0"},
        {"user", "", "n=user,r=0"},
        {"user", "\xc3\xa9t\xc3\xa9", "n=user,r=t"},  // only ASCII letters and digits count
        {"user", "abcdefghijklmnopqrstuvwx---yz", "n=user,r=abcdefghijklmnopqrstuvwx"},
        {"\xc3\xa9l\xc3\xa8ve", "n1", "n=\xc3\xa9l\xc3\xa8ve,r=n1"},  // no other normalisation
    };
    for (const auto& c : cases) {
        auto [state, bare] = scram_client_first(c.username, "pw", c.nonce);
        EXPECT_EQ(bare, c.bare) << c.username << " / " << c.nonce;
        EXPECT_EQ(state.client_first_bare, bare);
        EXPECT_EQ(state.nonce, bare.substr(bare.find(",r=") + 3));
    }
}

TEST(Scram, ClientFinalRefusals) {
    const std::string good_r = kServerNonce;
    const struct {
        std::string server_first;
        ScramError error;
    } cases[] = {
        // Attributes missing or unreadable.
        {"s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096", ScramError::Malformed},
        {"r=" + good_r + ",i=4096", ScramError::Malformed},
        {"r=" + good_r + ",s=" + kSalt, ScramError::Malformed},
        {"", ScramError::Malformed},
        {"rr=" + good_r + ",s=" + kSalt + ",i=4096", ScramError::Malformed},
        {"r" + good_r + ",s=" + kSalt + ",i=4096", ScramError::Malformed},
        {server_first(good_r + "\xff", kSalt, "4096"), ScramError::Malformed},  // not UTF-8
        // Iteration counts that do not read as a 32-bit number.
        {server_first(good_r, kSalt, ""), ScramError::Malformed},
        {server_first(good_r, kSalt, "+"), ScramError::Malformed},
        {server_first(good_r, kSalt, "-"), ScramError::Malformed},
        {server_first(good_r, kSalt, "-5"), ScramError::Malformed},
        {server_first(good_r, kSalt, "++5"), ScramError::Malformed},
        {server_first(good_r, kSalt, "4096 "), ScramError::Malformed},
        {server_first(good_r, kSalt, "0x10"), ScramError::Malformed},
        {server_first(good_r, kSalt, "4294967296"), ScramError::Malformed},
        {server_first(good_r, kSalt, "99999999999999999999999"), ScramError::Malformed},
        // The server must extend our nonce.
        {server_first(kNonce, kSalt, "4096"), ScramError::NonceMismatch},
        {server_first("xyz", kSalt, "4096"), ScramError::NonceMismatch},
        {server_first("ROprNGfwEbeRWgbNEkqO%x", kSalt, "4096"), ScramError::NonceMismatch},
        {server_first("", kSalt, "4096"), ScramError::NonceMismatch},
        // Counts outside 1 to 1000000.
        {server_first(good_r, kSalt, "0"), ScramError::IterationCount},
        {server_first(good_r, kSalt, "1000001"), ScramError::IterationCount},
        {server_first(good_r, kSalt, "4294967295"), ScramError::IterationCount},
        // Salt.
        {server_first(good_r, "W22ZaJ0SNY7soEsUEjb6gQ", "4096"), ScramError::SaltNotBase64},
        {server_first(good_r, "!!!!", "4096"), ScramError::SaltNotBase64},
        // Several faults: the first check in order wins.
        {server_first("xyz", "!!!!", "-5"), ScramError::Malformed},
        {server_first("xyz", "!!!!", "0"), ScramError::NonceMismatch},
        {server_first(good_r, "!!!!", "0"), ScramError::IterationCount},
    };
    for (const auto& c : cases) {
        ScramState state = first_state();
        const ScramState before = state;
        const auto result = scram_client_final(state, c.server_first);
        ASSERT_TRUE(std::holds_alternative<ScramError>(result)) << c.server_first;
        EXPECT_EQ(std::get<ScramError>(result), c.error) << c.server_first;
        EXPECT_EQ(state, before) << c.server_first;
    }
}

TEST(Scram, ClientFinalAcceptedForms) {
    const std::string r = kServerNonce;
    const std::string accepted[] = {
        server_first(r, kSalt, "+4096"),
        server_first(r, kSalt, "0004096"),
        server_first(r, kSalt, "1"),
        server_first(r, "", "1"),  // an empty salt
        "i=4096,s=" + std::string(kSalt) + ",r=" + r,
        "m=ext," + server_first(r, kSalt, "4096") + ",x=y,i=1,r=other,=,,",
    };
    for (const auto& text : accepted) {
        ScramState state = first_state();
        const auto result = scram_client_final(state, text);
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << text;
        EXPECT_TRUE(std::get<std::string>(result).starts_with("c=biws,r=" + r + ",p=")) << text;
        EXPECT_EQ(state.auth_message, "n=user,r=rOprNGfwEbeRWgbNEkqO," + text + ",c=biws,r=" + r);
    }
    // The reordered form differs from the example only in AuthMessage, so its proof must too.
    ScramState state = first_state();
    EXPECT_NE(std::get<std::string>(scram_client_final(state, accepted[4])), kClientFinal);
}

TEST(Scram, LargestIterationCountAccepted) {
    ScramState state = first_state();
    const auto result = scram_client_final(state, server_first(kServerNonce, kSalt, "1000000"));
    EXPECT_TRUE(std::holds_alternative<std::string>(result));
}

TEST(Scram, VerifyServerFinal) {
    const ScramState state = finished_state();
    const std::string good = *base64_decode(kSignature);
    std::string first_flipped = good;
    first_flipped[0] = static_cast<char>(first_flipped[0] ^ 1);
    std::string last_flipped = good;
    last_flipped[31] = static_cast<char>(last_flipped[31] ^ 0x80);

    const struct {
        std::string server_final;
        std::optional<ScramError> outcome;
    } cases[] = {
        {kServerFinal, std::nullopt},
        {std::string(kServerFinal) + ",x=extra", std::nullopt},
        {"e=ignored," + std::string(kServerFinal), std::nullopt},
        {"e=invalid-proof", ScramError::Malformed},
        {"", ScramError::Malformed},
        {"v=", ScramError::ServerSignatureMismatch},  // decodes to nothing: wrong length
        {"v=not base64", ScramError::Malformed},
        {std::string(kServerFinal) + "\xff", ScramError::Malformed},
        {"v=" + base64_encode(good.substr(0, 31)), ScramError::ServerSignatureMismatch},
        {"v=" + base64_encode(good + "x"), ScramError::ServerSignatureMismatch},
        {"v=" + base64_encode(first_flipped), ScramError::ServerSignatureMismatch},
        {"v=" + base64_encode(last_flipped), ScramError::ServerSignatureMismatch},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scram_verify_server_final(state, c.server_final), c.outcome) << c.server_final;
    }
}

TEST(Scram, VerifyWithoutClientFinalIsMalformed) {
    EXPECT_EQ(scram_verify_server_final(first_state(), kServerFinal), ScramError::Malformed);
}

}  // namespace
}  // namespace tessel
