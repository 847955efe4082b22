// The contactless mode of the virtual card: keys, pieces of a file write taking effect only
// with the last piece, and the file held back when the image cannot be saved.
#include "applet.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "test_card.h"

namespace carvix::vcard {
namespace {

const std::string kReadKey = "000102030405060708090A0B0C0D0E0F";
const std::string kWriteKey = "A1A2A3A4";

class ContactlessTest : public ::testing::Test {
  protected:
    ContactlessTest() {
        ContactlessPart part;
        part.serial = "CLSN01";
        part.readKey = FromHex(kReadKey);
        part.writeKey = FromHex(kWriteKey);
        part.files[0] = Bytes(300, 0x11);
        image.contactless = part;
    }
    Response Run(const std::string& hex) {
        auto c = ParseCommand(FromHex(hex));
        EXPECT_TRUE(c) << hex;
        return applet.Process(*c);
    }
    // One piece of a write: file, last or not, offset, bytes.
    std::uint16_t Write(int file, bool last, std::size_t offset, const std::string& bytes,
                        const std::string& key = kWriteKey) {
        const Bytes body = FromHex(bytes);
        const std::size_t lc = 1 + key.size() / 2 + 2 + body.size();
        char header[32];
        std::snprintf(header, sizeof header, "90D6%02X%02X%02X%02X", file, last ? 1 : 0,
                      static_cast<unsigned>(lc), static_cast<unsigned>(key.size() / 2));
        char off[8];
        std::snprintf(off, sizeof off, "%04X", static_cast<unsigned>(offset));
        return Run(header + key + off + bytes).sw;
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

TEST_F(ContactlessTest, ReadsGiveTheLengthAndPiecesOnlyWithTheReadKey) {
    const Response first = Run("90B0010012" + kReadKey + "0000" + "00");
    ASSERT_EQ(first.sw, 0x9000);
    EXPECT_EQ(ToHex(Bytes(first.data.begin(), first.data.begin() + 2)), "012C");
    EXPECT_EQ(first.data.size(), 2u + 240u);
    const Response rest = Run("90B0010012" + kReadKey + "00F0" + "00");
    EXPECT_EQ(rest.data.size(), 2u + 60u);
    EXPECT_EQ(Run("90B0010012" + kReadKey + "012D" + "00").sw, 0x6B00);
    EXPECT_EQ(Run("90B0030012" + kReadKey + "0000" + "00").sw, 0x6A82);
    EXPECT_EQ(Run("90B001001200000000000000000000000000000000"
                  "0000"
                  "00")
                  .sw,
              0x6982);

    const Response info = Run("9010000010" + kReadKey + "00");
    ASSERT_EQ(info.sw, 0x9000);
    EXPECT_EQ(std::string(info.data.begin(), info.data.begin() + 6), "CLSN01");
    EXPECT_EQ(Run("901000001000000000000000000000000000000000"
                  "00")
                  .sw,
              0x6982);
}

TEST_F(ContactlessTest, AWriteTakesEffectWithItsLastPieceOnly) {
    EXPECT_EQ(Write(2, false, 0, "AABB"), 0x9000);
    EXPECT_EQ(Write(2, false, 2, "CC"), 0x9000);
    EXPECT_TRUE(image.contactless->files[1].empty()) << "nothing before the last piece";
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(Write(2, true, 3, "DD"), 0x9000);
    EXPECT_EQ(ToHex(image.contactless->files[1]), "AABBCCDD");
    EXPECT_EQ(saves, 1);

    // A gap, a wrong key or a reset drops the pieces so far.
    EXPECT_EQ(Write(1, false, 0, "01"), 0x9000);
    EXPECT_EQ(Write(1, true, 5, "02"), 0x6A80);
    EXPECT_EQ(Write(1, true, 0, "01", "B1B2"), 0x6982);
    EXPECT_EQ(Write(1, false, 0, "01"), 0x9000);
    applet.Reset();
    EXPECT_EQ(Write(1, true, 1, "02"), 0x6A80);
    EXPECT_EQ(image.contactless->files[0], Bytes(300, 0x11));
}

TEST_F(ContactlessTest, AFileThatCannotBeSavedStaysAsItWas) {
    failSave = true;
    EXPECT_EQ(Write(1, true, 0, "0102"), 0x6F00);
    EXPECT_EQ(image.contactless->files[0], Bytes(300, 0x11));
}

TEST_F(ContactlessTest, AContactOnlyCardRefusesTheClass) {
    image.contactless.reset();
    EXPECT_EQ(Run("9010000010" + kReadKey + "00").sw, 0x6E00);
}

}  // namespace
}  // namespace carvix::vcard
