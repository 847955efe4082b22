// The hexadecimal codec: digit case, separators between bytes or anywhere, and each fault.
#include "carvix/support/hex.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Orvel::HexFault;
using Orvel::HexSeparators;
using Orvel::ParseHex;
using Bytes = std::vector<std::uint8_t>;

TEST(Hex, UpperCaseDigitsWithTheChosenSeparator) {
    const Bytes bytes{0x00, 0x3B, 0xAF, 0xFF};
    EXPECT_EQ(Orvel::ToHex(bytes), "003BAFFF");
    EXPECT_EQ(Orvel::ToHex(bytes, " "), "00 3B AF FF");
    EXPECT_EQ(Orvel::ToHex(Bytes{}, " "), "");
}

TEST(Hex, EitherCaseRoundTripsThroughEverySeparatorRule) {
    for (HexSeparators where : {HexSeparators::BetweenBytes, HexSeparators::Anywhere}) {
        const Orvel::HexText hex = ParseHex("0a 1B:ff", " :", where);
        EXPECT_EQ(hex.fault, HexFault::None);
        EXPECT_EQ(hex.bytes, (Bytes{0x0A, 0x1B, 0xFF}));
        EXPECT_TRUE(ParseHex("", " ", where).bytes.empty());
    }
}

TEST(Hex, SeparatorsInsideAByteOnlyWhereAllowed) {
    EXPECT_EQ(ParseHex("A B", " ", HexSeparators::BetweenBytes).fault, HexFault::SplitByte);
    const Orvel::HexText anywhere = ParseHex("A B", " ", HexSeparators::Anywhere);
    EXPECT_EQ(anywhere.fault, HexFault::None);
    EXPECT_EQ(anywhere.bytes, Bytes{0xAB});
}

TEST(Hex, FaultsNameTheirCause) {
    const Orvel::HexText notDigit = ParseHex("0G", " ", HexSeparators::Anywhere);
    EXPECT_EQ(notDigit.fault, HexFault::NotADigit);
    EXPECT_EQ(notDigit.offending, 'G');
    EXPECT_EQ(ParseHex("00:11", " ", HexSeparators::Anywhere).fault, HexFault::NotADigit);
    EXPECT_EQ(ParseHex("ABC", " ", HexSeparators::Anywhere).fault, HexFault::OddDigits);
}

}  // namespace
