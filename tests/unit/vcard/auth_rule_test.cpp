#include "auth_rule.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "security_state.h"

namespace carvix::vcard {
namespace {

// RFC 4493 test vectors: the rule must be standard AES-CMAC so back-ends can compute it.
TEST(AuthRule, MatchesAesCmacVectors) {
    const Bytes key = FromHex("2B7E151628AED2A6ABF7158809CF4F3C");
    EXPECT_EQ(ToHex(ComputeAuthResponse(key, {})), "BB1D6929E95937287FA37D129B756746");
    EXPECT_EQ(ToHex(ComputeAuthResponse(key, FromHex("6BC1BEE22E409F96E93D7E117393172A"))),
              "070A16B46B4D4144F79BDD9DD04A287C");
    const Bytes key256 =
        FromHex("603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4");
    EXPECT_EQ(ToHex(ComputeAuthResponse(key256, FromHex("6BC1BEE22E409F96E93D7E117393172A"))),
              "28A7023F452E8F82BD4BF28D8C37C35C");
    EXPECT_THROW(ComputeAuthResponse(Bytes(15), {}), std::invalid_argument);
}

TEST(SecurityState, ChallengeIsSingleUseAndClearEndsEverything) {
    SecurityState s;
    const Role role{2, Bytes(16, 0x42), {0x0101}};
    EXPECT_EQ(s.Authenticate(role, Bytes(16)), 0x6300);  // no challenge yet
    const auto c = s.NewChallenge();
    const auto good = ComputeAuthResponse(role.key, c);
    EXPECT_EQ(s.Authenticate(role, good), 0x9000);
    EXPECT_TRUE(s.Granted(2));
    EXPECT_EQ(s.Authenticate(role, good), 0x6300);
    EXPECT_TRUE(s.Granted(2));  // a refused replay leaves the granted role alone
    const auto c2 = s.NewChallenge();
    auto truncated = ComputeAuthResponse(role.key, c2);
    truncated.pop_back();
    EXPECT_EQ(s.Authenticate(role, truncated), 0x6300);
    EXPECT_FALSE(s.Granted(2));
    s.NewChallenge();
    s.Clear();
    EXPECT_EQ(s.Authenticate(role, good), 0x6300);
}

}  // namespace
}  // namespace carvix::vcard
