// The client's conversions: Base64 photo text to bytes, OLE dates to ISO days, the aligned
// listing, and its UTF-8 / UTF-16 round trip.
#include "block_reader.h"
#include "output.h"

#include <gtest/gtest.h>

namespace {

using namespace carvix::cli;

std::vector<unsigned char> Bytes(const std::string& s) {
    return std::vector<unsigned char>(s.begin(), s.end());
}

TEST(Base64, DecodesEveryPaddingAndRefusesWhatIsNotBase64) {
    EXPECT_EQ(FromBase64(""), std::vector<unsigned char>{});
    EXPECT_EQ(FromBase64("TWFu"), Bytes("Man"));
    EXPECT_EQ(FromBase64("TWE="), Bytes("Ma"));
    EXPECT_EQ(FromBase64("TQ=="), Bytes("M"));
    EXPECT_EQ(FromBase64("/+8A"), (std::vector<unsigned char>{0xFF, 0xEF, 0x00}));
    EXPECT_FALSE(FromBase64("TWF"));       // not a multiple of four
    EXPECT_FALSE(FromBase64("TW=u"));      // padding inside
    EXPECT_FALSE(FromBase64("TWE=TWFu"));  // padding before the end
    EXPECT_FALSE(FromBase64("TW\nu"));
    EXPECT_FALSE(FromBase64("===="));
}

TEST(IsoDays, CardDatesComeOutAsTheirCalendarDay) {
    EXPECT_EQ(IsoDay(0.0), "1899-12-30");
    EXPECT_EQ(IsoDay(45366.0), "2024-03-15");
    EXPECT_EQ(IsoDay(45366.75), "2024-03-15");  // the time of day does not move the day
    EXPECT_EQ(IsoDay(-1.25), "1899-12-29");
    EXPECT_EQ(IsoDay(2958465.0), "9999-12-31");
    EXPECT_THROW(IsoDay(2958466.0), ClientError);
    EXPECT_THROW(IsoDay(-700000.0), ClientError);
}

TEST(Listing, AlignsValuesAndSummarisesThePhotoAndTheInsurances) {
    Json block = Json::object();
    block["CardID"] = "VL0012345";
    block["Status"] = 3;
    block["Photo"] = "TWFu";
    block["VoluntaryInsurances"] =
        Json::array({Json{{"Code", "01"}, {"PolicyCode", "100"}, {"ValidTo", "2027-01-28"}},
                     Json{{"Code", "02"}, {"PolicyCode", "107"}, {"ValidTo", "2028-02-28"}}});
    EXPECT_EQ(Listing("zk-variable-admin", block),
              "zk-variable-admin\n"
              "  CardID               VL0012345\n"
              "  Status               3\n"
              "  Photo                3 bytes\n"
              "  VoluntaryInsurances  1. Code 01  PolicyCode 100  ValidTo 2027-01-28\n"
              "                       2. Code 02  PolicyCode 107  ValidTo 2028-02-28\n");
}

TEST(Text, ReaderNamesAndCardTextsSurviveTheRoundTrip) {
    for (const std::string text :
         {"plain", "Petrović", "Јовановић 12Б", "\xF0\x9F\x98\x80 smile", ""}) {
        EXPECT_EQ(Utf8(Utf16(text)), text);
    }
    EXPECT_EQ(Utf16("Б"), u"Б");
    EXPECT_EQ(Utf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // a lone surrogate
    EXPECT_EQ(Utf16("a\xC3(b"), u"a\xFFFD(b");                      // a broken sequence
    EXPECT_EQ(Utf16("\xC0\xAF"), u"\xFFFD\xFFFD");                  // an overlong form
}

}  // namespace
