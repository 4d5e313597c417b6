#include <gtest/gtest.h>

#include "tessel_client/protocol/casemapping.hpp"

namespace tessel {
namespace {

constexpr CaseMapping kAll[] = {CaseMapping::Ascii, CaseMapping::Rfc1459, CaseMapping::Rfc1459Strict};

TEST(Casemapping, FoldPerMapping) {
    EXPECT_EQ(irc_fold(CaseMapping::Rfc1459, "NiCk[]\\~"), "nick{}|^");
    EXPECT_EQ(irc_fold(CaseMapping::Rfc1459Strict, "NiCk[]\\~"), "nick{}|~");
    EXPECT_EQ(irc_fold(CaseMapping::Ascii, "NiCk[]\\~"), "nick[]\\~");
    for (CaseMapping m : kAll) {
        SCOPED_TRACE(static_cast<int>(m));
        EXPECT_EQ(irc_fold(m, "ÄBC"), "Äbc");               // only ASCII folds
        EXPECT_EQ(irc_fold(m, "{|}^az09"), "{|}^az09");     // one way only
        const std::string once = irc_fold(m, "NiCk[]\\~ÄÉ@#");
        EXPECT_EQ(irc_fold(m, once), once);
    }
}

TEST(Casemapping, Equal) {
    EXPECT_TRUE(irc_equal(CaseMapping::Rfc1459, "A[~", "a{^"));
    EXPECT_FALSE(irc_equal(CaseMapping::Rfc1459Strict, "A[~", "a{^"));
    EXPECT_TRUE(irc_equal(CaseMapping::Rfc1459Strict, "A[", "a{"));
    EXPECT_FALSE(irc_equal(CaseMapping::Ascii, "A[~", "a{^"));
    for (CaseMapping m : kAll) {
        SCOPED_TRACE(static_cast<int>(m));
        EXPECT_FALSE(irc_equal(m, "Ä", "ä"));
        EXPECT_FALSE(irc_equal(m, "abc", "abcd"));
        EXPECT_FALSE(irc_equal(m, "abcd", "abc"));
        EXPECT_TRUE(irc_equal(m, "", ""));
        EXPECT_TRUE(irc_equal(m, "NICK", "nick"));
    }
}

}  // namespace
}  // namespace tessel
