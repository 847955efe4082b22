// File access and security state of the applet, without protocol rules.
#include "applet.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "auth_rule.h"
#include "test_card.h"

namespace carvix::vcard {
namespace {

class AppletTest : public ::testing::Test {
  protected:
    Response Run(const std::string& hex) {
        auto c = ParseCommand(FromHex(hex));
        EXPECT_TRUE(c) << hex;
        return applet.Process(*c);
    }
    std::uint16_t Sw(const std::string& hex) { return Run(hex).sw; }
    void Authenticate(std::uint8_t role, const Bytes& key) {
        const Bytes challenge = Run("0084000008").data;
        ASSERT_EQ(challenge.size(), 8u);
        const std::string p2 = ToHex(Bytes{static_cast<std::uint8_t>(0x80 | role)});
        ASSERT_EQ(Sw("008200" + p2 + "10" + ToHex(ComputeAuthResponse(key, challenge))), 0x9000);
    }

    CardImage image = testing::SmallCard(Protocol::T1);
    int saves = 0;
    bool failSave = false;
    Applet applet{image, [this] {
                      if (failSave) {
                          throw std::runtime_error("disk full");
                      }
                      ++saves;
                  }};
};

TEST_F(AppletTest, SelectFileResponseCarriesSizeAndWriters) {
    ASSERT_EQ(Sw("00A4040005A000000001"), 0x9000);
    const auto r = Run("00A40000020101");
    EXPECT_EQ(ToHex(r.data),
              "0101012C0005"
              "01"
              "02"
              "0000");
    EXPECT_GE(r.data.size(), 10u);
}

TEST_F(AppletTest, ReadBinaryBoundsAndZeroFill) {
    Run("00A4040005A000000001");
    Run("00A40000020101");
    EXPECT_EQ(ToHex(Run("00B0000308").data), "0405000000000000");  // beyond the stored bytes
    EXPECT_EQ(Sw("00B0012B02"), 0x6C01);                           // 300-byte file, offset 299
    EXPECT_EQ(Sw("00B0012C01"), 0x6B00);
    EXPECT_EQ(Sw("00B0800001"), 0x6A86);  // short file identifier form
    Run("00A40000020102");
    EXPECT_EQ(Sw("00B0000000"), 0x6C04);  // Le 00 means 256
}

TEST_F(AppletTest, NothingSelected) {
    EXPECT_EQ(Sw("00B0000001"), 0x6985);
    EXPECT_EQ(Sw("00A40000020101"), 0x6A82);
    EXPECT_EQ(Sw("0082008110" + std::string(32, '0')), 0x6985);
    EXPECT_EQ(Sw("00A4040005A0000000FF"), 0x6A82);
    EXPECT_EQ(Sw("80B0000001"), 0x6E00);
    EXPECT_EQ(Sw("00CA000001"), 0x6D00);
}

TEST_F(AppletTest, UpdateNeedsARoleThatMayWriteTheFile) {
    Run("00A4040005A000000001");
    Run("00A40000020101");
    EXPECT_EQ(Sw("00D6000001AA"), 0x6982);
    Authenticate(1, testing::kKey1);
    EXPECT_EQ(Sw("00D6000001AA"), 0x9000);
    EXPECT_EQ(image.applications[0].files[0x0101].data[0], 0xAA);
    EXPECT_EQ(saves, 1);
    Run("00A40000020102");
    EXPECT_EQ(Sw("00D6000001AA"), 0x6982);  // role 1 may not write 0102
}

TEST_F(AppletTest, UpdateGrowsStoredDataWithinTheSizeOnly) {
    Run("00A4040005A000000001");
    Authenticate(1, testing::kKey1);
    Run("00A40000020101");
    EXPECT_EQ(Sw("00D6012A03AABBCC"), 0x6A84);  // 298 + 3 > 300
    EXPECT_EQ(Sw("00D6012C01AA"), 0x6B00);
    EXPECT_EQ(Sw("00D6012A02AABB"), 0x9000);
    EXPECT_EQ(image.applications[0].files[0x0101].data.size(), 300u);
    EXPECT_EQ(image.applications[0].files[0x0101].data[5], 0x00);
    EXPECT_EQ(saves, 1);
}

TEST_F(AppletTest, FailedSaveKeepsTheOldBytes) {
    Run("00A4040005A000000001");
    Authenticate(1, testing::kKey1);
    Run("00A40000020101");
    failSave = true;
    EXPECT_EQ(Sw("00D6000010" + std::string(32, 'E')), 0x6F00);
    EXPECT_EQ(image.applications[0].files[0x0101].data, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(ToHex(Run("00B0000002").data), "0102");
}

TEST_F(AppletTest, RolesBelongToTheApplicationThatGrantedThem) {
    Run("00A4040005A000000001");
    Authenticate(1, testing::kKey1);
    Run("00A4040005A000000001");  // the same application again keeps the role
    Run("00A40000020101");
    EXPECT_EQ(Sw("00D6000001AA"), 0x9000);
    Run("00A4040005A000000002");
    Run("00A40000020201");
    EXPECT_EQ(Sw("00D6000001AA"), 0x6982);
    EXPECT_EQ(Sw("00A4040005A0000000FF"), 0x6A82);  // a failed select changes nothing
    EXPECT_EQ(Sw("00A40000020201"), 0x9000);
}

TEST_F(AppletTest, WrongResponseWithdrawsTheRoleAndUsesUpTheChallenge) {
    Run("00A4040005A000000001");
    Authenticate(1, testing::kKey1);
    const Bytes challenge = Run("0084000008").data;
    EXPECT_EQ(Sw("0082008110" + std::string(32, '0')), 0x6300);
    EXPECT_EQ(Sw("0082008110" + ToHex(ComputeAuthResponse(testing::kKey1, challenge))), 0x6300);
    Run("00A40000020101");
    EXPECT_EQ(Sw("00D6000001AA"), 0x6982);
    EXPECT_EQ(Sw("0082000110" + std::string(32, '0')), 0x6A86);  // P2 without the role flag
}

TEST_F(AppletTest, ChallengesAreFresh) {
    EXPECT_NE(Run("0084000008").data, Run("0084000008").data);
    EXPECT_EQ(Sw("0084000004"), 0x6C08);
}

TEST_F(AppletTest, LogoutMaskAndReset) {
    Run("00A4040005A000000001");
    Authenticate(1, testing::kKey1);
    Run("00A40000020101");
    EXPECT_EQ(Sw("B0220001"), 0x9000);  // bit 0 is role 0
    EXPECT_EQ(Sw("00D6000001AA"), 0x9000);
    EXPECT_EQ(Sw("B0220102"), 0x6A86);
    EXPECT_EQ(Sw("B0220002"), 0x9000);
    EXPECT_EQ(Sw("00D6000001AA"), 0x6982);
    Authenticate(1, testing::kKey1);
    applet.Reset();
    Run("00A4040005A000000001");
    Run("00A40000020101");
    EXPECT_EQ(Sw("00D6000001AA"), 0x6982);
}

}  // namespace
}  // namespace carvix::vcard
