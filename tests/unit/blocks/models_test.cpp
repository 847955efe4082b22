// The VL and ZK block models: their largest sizes, optional elements, element order, and
// the failures a user meets when a card or a caller gives bad values.
#include "carvix/blocks/models.h"
#include "block_bytes.h"
#include "model_samples.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>

namespace carvix::test {
// Parameterised tests name the model rather than dumping its bytes.
void PrintTo(const ModelKind& kind, std::ostream* out) {
    *out << kind.name;
}
}  // namespace carvix::test

namespace {

using carvix::test::AllModels;
using carvix::test::Ascii;
using carvix::test::BlockOf;
using carvix::test::CardError;
using carvix::test::Differences;
using carvix::test::FillLargest;
using carvix::test::ModelKind;
using carvix::test::Tlv;
using Orvel::ByteArray;
using Orvel::DateTime;
using Orvel::DateTimeKind;

std::vector<std::uint16_t> TagsOf(const ByteArray& block) {
    std::vector<std::uint16_t> tags;
    for (std::size_t at = 4; at + 4 <= block.size();) {
        tags.push_back(static_cast<std::uint16_t>(block[at] | block[at + 1] << 8));
        at += 4 + (block[at + 2] | block[at + 3] << 8);
    }
    return tags;
}

ByteArray Utf16(std::u16string_view text) {
    ByteArray out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

class EveryModel : public testing::TestWithParam<ModelKind> {};

TEST_P(EveryModel, RoundTripsAtItsLargestSize) {
    auto model = GetParam().make();
    EXPECT_EQ(model->Tag(), GetParam().blockId);
    FillLargest(*model);
    const ByteArray bytes = model->Encode();
    EXPECT_EQ(bytes.size(), GetParam().largestSize);
    auto decoded = GetParam().make();
    decoded->Decode(bytes);
    EXPECT_EQ(Differences(*model, *decoded), "");
    EXPECT_EQ(decoded->Encode(), bytes);
}

TEST_P(EveryModel, RoundTripsWithEveryOptionalElementAbsent) {
    auto model = GetParam().make();
    FillLargest(*model);
    std::size_t mandatory = 0;
    for (TlvElement* element : model->Elements()) {
        if (element->State() == Presence::Mandatory) {
            ++mandatory;
        } else {
            element->SetBytes(std::nullopt);
        }
    }
    const ByteArray bytes = model->Encode();
    EXPECT_EQ(TagsOf(bytes).size(), mandatory);
    auto decoded = GetParam().make();
    decoded->Decode(bytes);
    EXPECT_EQ(Differences(*model, *decoded), "");
    for (TlvElement* element : decoded->Elements()) {
        if (element->State() != Presence::Mandatory) {
            EXPECT_TRUE(element->IsNull());
        }
    }
}

TEST_P(EveryModel, EachMandatoryElementIsRequired) {
    auto model = GetParam().make();
    FillLargest(*model);
    const ByteArray full = model->Encode();
    for (TlvElement* element : model->Elements()) {
        if (element->State() != Presence::Mandatory) {
            continue;
        }
        // Rename the element's tag in the encoded bytes so that it is skipped as unknown.
        ByteArray bytes = full;
        for (std::size_t at = 4; at + 4 <= bytes.size();) {
            if ((bytes[at] | bytes[at + 1] << 8) == element->Tag()) {
                bytes[at] = 0xFF;
                bytes[at + 1] = 0xFF;
            }
            at += 4 + (bytes[at + 2] | bytes[at + 3] << 8);
        }
        auto decoded = GetParam().make();
        char expected[64];
        std::snprintf(expected, sizeof expected,
                      "Mandatory element with tag 0x%04X not found in block", element->Tag());
        EXPECT_EQ(CardError([&] { decoded->Decode(bytes); }),
                  std::u16string(expected, expected + std::strlen(expected)));
    }
}

INSTANTIATE_TEST_SUITE_P(Models, EveryModel, testing::ValuesIn(AllModels()),
                         [](const auto& info) { return info.param.name; });

TEST(VLModels, DocumentNeedsItsMandatoryElementsAndSkipsTheBookletID) {
    const ByteArray withoutCardId = BlockOf(
        0x0D01,
        {Tlv(0x613, Ascii("01012020")), Tlv(0x614, Ascii("01012030")), Tlv(0x615, Ascii("CHIP"))});
    VLDocumentModel document;
    EXPECT_EQ(CardError([&] { document.Decode(withoutCardId); }),
              u"Mandatory element with tag 0x0611 not found in block");

    const ByteArray zkBytes =
        BlockOf(0x0D01, {Tlv(0x611, Ascii("123456789")), Tlv(0x612, Ascii("BOOKLET")),
                         Tlv(0x613, Ascii("05032022")), Tlv(0x614, Ascii("05032032")),
                         Tlv(0x615, Ascii("0123456789ABCDEF"))});
    document.Decode(zkBytes);
    EXPECT_EQ(document.CardID.GetValue(), u"123456789");
    EXPECT_EQ(document.DateOfExpiry.GetValue(), DateTime(2032, 3, 5, DateTimeKind::Utc));

    ByteArray withoutBooklet = zkBytes;
    withoutBooklet[17] = 0x7F;  // tag 0x612 becomes 0x7F12
    ZKDocumentModel booklet;
    EXPECT_EQ(CardError([&] { booklet.Decode(withoutBooklet); }),
              u"Mandatory element with tag 0x0612 not found in block");
    booklet.Decode(zkBytes);
    EXPECT_EQ(booklet.BookletID.GetValue(), u"BOOKLET");
}

TEST(VLModels, VariablePersoWritesOnlyWhatWasSet) {
    VLVariablePersoModel fresh;
    fresh.Rank.SetValue(49);
    fresh.OrgUnit.SetValue(u"\u0412\u0415");
    fresh.ServiceSite.SetValue(u"Site");
    fresh.ServiceStartDate.SetValue(DateTime(2020, 6, 1, DateTimeKind::Local));
    const ByteArray bytes = fresh.Encode();
    EXPECT_EQ(TagsOf(bytes), (std::vector<std::uint16_t>{0x630, 0x632, 0x633, 0x634}));
    EXPECT_EQ(bytes, BlockOf(0x0D03, {Tlv(0x630, Ascii("49")), Tlv(0x632, Utf16(u"\u0412\u0415")),
                                      Tlv(0x633, Utf16(u"Site")), Tlv(0x634, Ascii("01062020"))}));

    VLVariablePersoModel read;
    read.Decode(BlockOf(0x0D03, {Tlv(0x632, {}), Tlv(0x633, {}), Tlv(0x634, Ascii("01062020"))}));
    for (TlvElement* optional : std::initializer_list<TlvElement*>{
             &read.Rank, &read.UnitNo, &read.ServiceEndDate, &read.HealthWorkerID}) {
        EXPECT_TRUE(optional->IsNull());
    }
    EXPECT_EQ(CardError([&] { read.UnitNo.GetValue(); }),
              u"Referenced non-existent optional value with tag 1585");

    read.HealthWorkerID.SetValue(u"\u0416");
    EXPECT_EQ(CardError([&] { read.Encode(); }), u"Non-translatable characters found in string");
    read.HealthWorkerID.SetValue(u"HW1");
    read.OrgUnit.SetValue(std::u16string(101, u'x'));
    EXPECT_EQ(CardError([&] { read.Encode(); }),
              u"Element with tag 0x632 has length 202, but maximum allowed is 200");
}

TEST(VLModels, LengthLimitsOfPersonalNumberPhotoAndContactlessNames) {
    VLFixedPersoModel perso;
    FillLargest(perso);
    perso.PersonalNumber.SetValue(u"1234567890123");
    EXPECT_NO_THROW(perso.Encode());
    perso.PersonalNumber.SetValue(u"12345678901234");
    EXPECT_EQ(CardError([&] { perso.Encode(); }),
              u"Element with tag 0x621 has length 14, but maximum allowed is 13");

    VLPhotoModel photo;
    photo.Decode(BlockOf(0x0D04, {Tlv(0x640, ByteArray(7680, 0xFF))}));
    EXPECT_EQ(photo.Photo.GetValue().size(), 7680u);
    EXPECT_EQ(CardError([&] { photo.Decode(BlockOf(0x0D04, {Tlv(0x640, ByteArray(7681))})); }),
              u"Length 7681 of TLV element with tag 0x640 in given block is larger than maximum "
              u"allowed 7680");

    VLContactlessModel extract;
    FillLargest(extract);
    extract.FirstName.CopyFrom(perso.FirstName);  // copying takes the source's limit too
    EXPECT_NO_THROW(extract.Encode());
    VLContactlessModel limited;
    FillLargest(limited);
    limited.FirstName.SetValue(std::u16string(31, u'\u0416'));
    EXPECT_EQ(CardError([&] { limited.Encode(); }),
              u"Element with tag 0x623 has length 62, but maximum allowed is 60");
}

TEST(ZKModels, FixedAdminOptionalsAndTheOneByteFamilyCode) {
    ZKFixedAdminModel admin;
    FillLargest(admin);
    for (TlvElement* element : admin.Elements()) {
        if (element->State() == Presence::Present) {
            element->SetBytes(std::nullopt);
        }
    }
    const ByteArray bare = admin.Encode();
    EXPECT_EQ(TagsOf(bare).size(), 9u);
    ZKFixedAdminModel read;
    read.Decode(bare);
    int absent = 0;
    for (TlvElement* element : read.Elements()) {
        absent += element->State() != Presence::Mandatory && element->IsNull();
    }
    EXPECT_EQ(absent, 8);

    const ByteArray body(bare.begin() + 4, bare.end());
    auto withFamily = [&](const ByteArray& value) {
        ByteArray bytes = bare;
        const ByteArray element = Tlv(0x757, value);
        bytes.insert(bytes.end(), element.begin(), element.end());
        const std::size_t length = bytes.size() - 4;
        bytes[2] = static_cast<std::uint8_t>(length & 0xFF);
        bytes[3] = static_cast<std::uint8_t>(length >> 8);
        return bytes;
    };
    read.Decode(withFamily(Ascii("1")));
    EXPECT_EQ(read.CarrierFamilyMember.GetValue(), 1);
    EXPECT_EQ(CardError([&] { read.Decode(withFamily(Ascii("01"))); }),
              u"Length 2 of TLV element with tag 0x757 in given block is larger than maximum "
              u"allowed 1");
    EXPECT_EQ(CardError([&] { read.Decode(withFamily(Ascii("2"))); }),
              u"Element with tag 0x757 has invalid value");
}

TEST(ZKModels, VariablePersoWithOnlyTheMandatoryAddress) {
    ZKVariablePersoModel address;
    address.Street.SetValue(u"\u0423\u043b\u0438\u0446\u0430");
    address.Number.SetValue(u"12\u0411");
    address.DateOfIssue.SetValue(DateTime(2024, 1, 2, DateTimeKind::Utc));
    ByteArray bytes = address.Encode();
    ZKVariablePersoModel read;
    read.Decode(bytes);
    EXPECT_EQ(read.Number.GetValue(), u"12\u0411");
    EXPECT_EQ(read.DateOfIssue.GetValue(), DateTime(2024, 1, 2, DateTimeKind::Utc));
    EXPECT_TRUE(read.DateOfExpiry.IsNull());

    address.Number.SetBytes(std::nullopt);
    address.DateOfIssue.SetBytes(std::nullopt);
    read.Decode(address.Encode());
    int absent = 0;
    for (TlvElement* element : read.Elements()) {
        absent += element->State() != Presence::Mandatory && element->IsNull();
    }
    EXPECT_EQ(absent, 9);
}

TEST(ZKModels, VariableAdminListIsFirstAndMayBeEmpty) {
    ZKVariableAdminModel admin;
    FillLargest(admin);
    EXPECT_EQ(TagsOf(admin.Encode()).front(), 0x801);
    admin.VoluntaryInsurances.SetValue({});
    const ByteArray bytes = admin.Encode();
    EXPECT_EQ(ByteArray(bytes.begin() + 4, bytes.begin() + 8), (ByteArray{0x01, 0x08, 0, 0}));
    ZKVariableAdminModel read;
    read.Decode(bytes);
    EXPECT_FALSE(read.VoluntaryInsurances.IsNull());
    EXPECT_TRUE(read.VoluntaryInsurances.GetValue().empty());

    // Records put in without SetValue's presence are not written while the list is absent.
    ZKVariableAdminModel fresh;
    FillLargest(fresh);
    fresh.VoluntaryInsurances.SetBytes(std::nullopt);
    EXPECT_EQ(TagsOf(fresh.Encode()).front(), 0x773);
}

}  // namespace
