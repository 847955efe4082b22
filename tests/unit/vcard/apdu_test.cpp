#include "apdu.h"

#include <gtest/gtest.h>

namespace carvix::vcard {
namespace {

Command Parse(const std::string& hex) {
    auto c = ParseCommand(FromHex(hex));
    EXPECT_TRUE(c.has_value()) << hex;
    return c.value_or(Command{});
}

TEST(ParseCommand, ShortCases) {
    auto c1 = Parse("00A40400");
    EXPECT_TRUE(c1.data.empty());
    EXPECT_FALSE(c1.le);

    auto c2 = Parse("00B0000000");
    EXPECT_EQ(c2.le, 256u);  // Le 00 is 256
    EXPECT_TRUE(c2.data.empty());

    auto c3 = Parse("00D6000002AABB");
    EXPECT_EQ(c3.data, (Bytes{0xAA, 0xBB}));
    EXPECT_FALSE(c3.le);

    auto c4 = Parse("00A4040002AABB10");
    EXPECT_EQ(c4.data.size(), 2u);
    EXPECT_EQ(c4.le, 0x10u);
    EXPECT_FALSE(c4.extended);
}

TEST(ParseCommand, ExtendedCases) {
    auto c2 = Parse("00B00000000000");
    EXPECT_TRUE(c2.extended);
    EXPECT_EQ(c2.le, 65536u);

    Bytes raw = {0x00, 0x82, 0x00, 0x81, 0x00, 0x01, 0x2C};
    raw.insert(raw.end(), 300, 0x5A);
    auto c3 = ParseCommand(raw);
    ASSERT_TRUE(c3);
    EXPECT_EQ(c3->data.size(), 300u);
    EXPECT_FALSE(c3->le);

    raw.push_back(0x01);
    raw.push_back(0x00);
    auto c4 = ParseCommand(raw);
    ASSERT_TRUE(c4);
    EXPECT_EQ(c4->le, 256u);
}

TEST(ParseCommand, RejectsInconsistentLengths) {
    for (const char* hex :
         {"00A404", "00D6000003AABB", "00D6000001AABBCCDD", "00D60000000002AA", "00B000000000"}) {
        EXPECT_FALSE(ParseCommand(FromHex(hex))) << hex;
    }
    EXPECT_TRUE(ParseCommand(FromHex("00B00000")));  // exactly the header is case 1
}

TEST(Hex, RoundTripAndErrors) {
    EXPECT_EQ(ToHex(FromHex("0a 1B:ff")), "0A1BFF");
    EXPECT_THROW(FromHex("ABC"), std::invalid_argument);
    EXPECT_THROW(FromHex("A BC"), std::invalid_argument);
    EXPECT_THROW(FromHex("zz"), std::invalid_argument);
    EXPECT_EQ((Response{{0x01}, 0x6282}.Serialize()), (Bytes{0x01, 0x62, 0x82}));
}

}  // namespace
}  // namespace carvix::vcard
