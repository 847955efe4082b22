// The element kinds: text in three code pages, dates, codes and the voluntary-insurance
// list.
#include "block_bytes.h"
#include "carvix/blocks/code_element.h"
#include "carvix/blocks/date_element.h"
#include "carvix/blocks/insurance_list_element.h"
#include "carvix/blocks/models.h"
#include "carvix/blocks/string_element.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using carvix::test::Ascii;
using carvix::test::CardError;
using Orvel::ByteArray;
using Orvel::DateTime;
using Orvel::DateTimeKind;

/// Encodes one element on its own: its value bytes, checked against its maximum.
ByteArray ValueOf(const TlvElement& element) {
    ByteArray tlv = element.EncodeToTlv().value();
    return ByteArray(tlv.begin() + 4, tlv.end());
}

TEST(TextElements, UsAsciiIsStrict) {
    StringElement id(0x611, 9, Requirement::Mandatory, CodePage::Ascii);
    EXPECT_EQ(ValueOf(id), ByteArray{});  // empty mandatory text: present, zero length
    id.SetValue(u"Caf\u00e9");
    EXPECT_EQ(CardError([&] { ValueOf(id); }), u"Non-translatable characters found in string");
    id.SetValue(u"AB-12\x7f");
    EXPECT_EQ(ValueOf(id), Ascii("AB-12\x7f"));

    EXPECT_EQ(StringElement::DecodeText(CodePage::Ascii, Ascii("ok")), u"ok");
    const std::u16string refused = CardError([] {
        StringElement::DecodeText(CodePage::Ascii, ByteArray{0x41, 0xE9});
    });
    EXPECT_EQ(refused.rfind(u"Error 0x", 0), 0u) << std::string(refused.begin(), refused.end());
    EXPECT_NE(refused.find(u"occured while translating string"), std::u16string::npos);
}

TEST(TextElements, Utf16CountsBytesAndIgnoresAnOddLastByte) {
    StringElement name(0x622, 100, Requirement::Mandatory, CodePage::Utf16);
    name.SetValue(u"Caf\u00e9");
    EXPECT_EQ(ValueOf(name), (ByteArray{'C', 0, 'a', 0, 'f', 0, 0xE9, 0}));
    name.SetValue(std::u16string(50, u'\u0416'));
    EXPECT_EQ(ValueOf(name).size(), 100u);
    name.SetValue(std::u16string(51, u'\u0416'));
    EXPECT_EQ(CardError([&] { name.EncodeToTlv(); }),
              u"Element with tag 0x622 has length 102, but maximum allowed is 100");

    name.SetBytes(ByteView(ByteArray{0x41, 0x00, 0x42, 0x00, 0x43}));
    EXPECT_EQ(name.GetValue(), u"AB");
    name.SetBytes(ByteView(ByteArray{}));
    EXPECT_EQ(name.GetValue(), u"");
}

TEST(TextElements, Utf8HouseNumberCountsBytes) {
    ZKVariablePersoModel address;
    address.Number.SetValue(u"12\u0411");  // 12Б: four bytes
    EXPECT_EQ(ValueOf(address.Number), (ByteArray{'1', '2', 0xD0, 0x91}));
    address.Number.SetValue(u"123456");
    EXPECT_EQ(CardError([&] { address.Number.EncodeToTlv(); }),
              u"Element with tag 0x73A has length 6, but maximum allowed is 5");

    address.Number.SetBytes(ByteView(ByteArray{'1', 0xD0, 0x91}));
    EXPECT_EQ(address.Number.GetValue(), u"1\u0411");
    const std::u16string refused = CardError([&] {
        address.Number.SetBytes(ByteView(ByteArray{'1', 0xD0}));
    });  // cut sequence
    EXPECT_NE(refused.find(u"occured while translating string"), std::u16string::npos);
    EXPECT_EQ(address.Number.GetValue(), u"1\u0411");  // unchanged
}

TEST(TextElements, CopyFromTakesTheCodePage) {
    StringElement source(0x623, 100, Requirement::Mandatory, CodePage::Utf16);
    source.SetValue(u"\u0416");
    StringElement target(0x623, 60, Requirement::Mandatory, CodePage::Ascii);
    target.CopyFrom(source);
    EXPECT_EQ(target.CodePage(), CodePage::Utf16);
    EXPECT_EQ(target.MaxLength(), 100u);
    EXPECT_EQ(ValueOf(target), (ByteArray{0x16, 0x04}));
}

TEST(DateElements, CardDatesAreEightDigitsOfTheDay) {
    DateElement date(0x613, Requirement::Mandatory);
    EXPECT_EQ(ValueOf(date), Ascii("01010001"));  // never assigned: 0 ticks
    date.SetValue(DateTime(2022, 3, 5, 17, 45, 0, 0, DateTimeKind::Local));
    EXPECT_EQ(ValueOf(date), Ascii("05032022"));
    date.SetBytes(ByteView(ValueOf(date)));
    EXPECT_EQ(date.GetValue(), DateTime(2022, 3, 5, DateTimeKind::Utc));
    EXPECT_EQ(date.GetValue().Hour(), 0);
    EXPECT_EQ(date.GetValue().Kind(), DateTimeKind::Utc);

    date.SetBytes(ByteView(Ascii("01012000")));
    EXPECT_EQ(date.GetValue(), DateTime(2000, 1, 1, DateTimeKind::Utc));
    date.SetValue(DateTime(999, 7, 4, DateTimeKind::Utc));
    EXPECT_EQ(ValueOf(date), Ascii("04070999"));
}

TEST(DateElements, WrongSizeFormatOrDayIsRefused) {
    DateElement date(0x624, Requirement::Mandatory);
    EXPECT_EQ(CardError([&] { date.SetBytes(ByteView(Ascii("0101200"))); }),
              u"Date element has incorrect size of 7");
    EXPECT_EQ(CardError([&] { date.SetBytes(ByteView(Ascii("AB122020"))); }),
              u"Date element has incorrect format");
    EXPECT_EQ(CardError([&] { date.SetBytes(ByteView(Ascii("0101ABCD"))); }),
              u"Date element has incorrect format");
    EXPECT_THROW(date.SetBytes(ByteView(Ascii("31022021"))), Orvel::ArgumentOutOfRangeException);
    EXPECT_THROW(date.SetBytes(ByteView(Ascii("01132021"))), Orvel::ArgumentOutOfRangeException);
    EXPECT_THROW(date.SetBytes(ByteView(Ascii("01010000"))), Orvel::ArgumentOutOfRangeException);
    EXPECT_NO_THROW(date.SetBytes(ByteView(Ascii("29022024"))));
    EXPECT_THROW(date.SetBytes(ByteView(Ascii("29022023"))), Orvel::ArgumentOutOfRangeException);
    EXPECT_EQ(date.GetValue(), DateTime(2024, 2, 29, DateTimeKind::Utc));  // kept

    // The fields are read as scanf reads "%2hu%2hu%4hu": spaces before a field are skipped.
    date.SetBytes(ByteView(Ascii("1 1 2000")));
    EXPECT_EQ(date.GetValue(), DateTime(2000, 1, 1, DateTimeKind::Utc));
}

TEST(CodeElements, CodesMatchExactly) {
    VLFixedPersoModel perso;
    EXPECT_EQ(CardError([&] { perso.Status.SetBytes(ByteView(Ascii("1"))); }),
              u"Element with tag 0x626 has invalid value");
    perso.Status.SetBytes(ByteView(Ascii("13")));
    EXPECT_EQ(perso.Status.GetValue(), 13);
    EXPECT_FALSE(CardError([&] { perso.Status.SetBytes(ByteView(Ascii("14"))); }).empty());

    VLVariablePersoModel service;
    service.Rank.SetValue(15);
    EXPECT_EQ(CardError([&] { service.Rank.EncodeToTlv(); }),
              u"Number 15 is not valid value for tag 0x630");
    service.Rank.SetValue(22);
    EXPECT_FALSE(CardError([&] { service.Rank.EncodeToTlv(); }).empty());
    EXPECT_EQ(CardError([&] { service.Rank.SetBytes(ByteView(Ascii("22"))); }),
              u"Element with tag 0x630 has invalid value");
    service.Rank.SetValue(49);
    EXPECT_EQ(ValueOf(service.Rank), Ascii("49"));

    ZKFixedPersoModel zk;
    zk.Gender.SetBytes(ByteView(Ascii("02")));
    EXPECT_EQ(zk.Gender.GetValue(), 2);
    EXPECT_EQ(CardError([&] { zk.Gender.SetBytes(ByteView(Ascii("2"))); }),
              u"Element with tag 0x704 has invalid value");
}

TEST(CodeTables, EntriesAreTheCardsCodeLists) {
    auto numbers = [](const CodeTable& table) {
        std::vector<std::int32_t> out;
        for (const auto& entry : table.Entries()) {
            out.push_back(entry.number);
        }
        return out;
    };
    EXPECT_EQ(numbers(CodeTables::RankCodes()),
              (std::vector<std::int32_t>{11, 12, 13, 14, 21, 23, 24, 25, 26, 31, 32, 33, 41, 42, 43,
                                         44, 45, 46, 49}));
    EXPECT_EQ(numbers(CodeTables::ContactlessRankCodes()), numbers(CodeTables::RankCodes()));
    EXPECT_NE(&CodeTables::ContactlessRankCodes(), &CodeTables::RankCodes());
    EXPECT_EQ(numbers(CodeTables::StatusCodes()).size(), 13u);
    EXPECT_EQ(*CodeTables::StatusCodes().CodeOf(7), Ascii("07"));
    EXPECT_EQ(*CodeTables::StatusCodes().CodeOf(13), Ascii("13"));
    EXPECT_EQ(*CodeTables::BloodTypeCodes().CodeOf(8), Ascii("08"));
    EXPECT_EQ(CodeTables::BloodTypeCodes().CodeOf(9), nullptr);
    EXPECT_EQ(*CodeTables::GenderCodes().CodeOf(0), Ascii("00"));
    EXPECT_EQ(*CodeTables::CarrierFamilyMemberCodes().CodeOf(1), Ascii("1"));
    EXPECT_EQ(CodeTables::DocumentIdCodes().NumberOf(Ascii("05")), 5);
    EXPECT_EQ(CodeTables::DocumentIdCodes().NumberOf(Ascii("5")), std::nullopt);
}

// Models built on many threads at once all see complete tables.
TEST(CodeTables, ConcurrentFirstUseFillsEachTableOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 50; ++i) {
                VLContactlessModel model;
                if (model.Status.Table().Entries().size() != 13 ||
                    model.Rank.Table().Entries().size() != 19) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

VoluntaryInsuranceRecord Record(std::u16string code, std::u16string policy, int day = 31) {
    return VoluntaryInsuranceRecord{std::move(code), std::move(policy),
                                    DateTime(2030, 12, day, DateTimeKind::Utc)};
}

TEST(InsuranceList, RecordsAreThirteenBytesEach) {
    InsuranceListElement list(0x801, 260, Requirement::Optional);
    list.SetValue({Record(u"AB", u"123"), Record(u"AB", u"123", 1), Record(u"AB", u"123")});
    const ByteArray bytes = ValueOf(list);
    ASSERT_EQ(bytes.size(), 39u);
    EXPECT_EQ(ByteArray(bytes.begin(), bytes.begin() + 13), Ascii("AB12331122030"));

    InsuranceListElement read(0x801, 260, Requirement::Optional);
    read.SetBytes(ByteView(bytes));
    EXPECT_EQ(read.GetValue(), list.GetValue());  // order and duplicates kept

    read.SetBytes(ByteView(ByteArray{}));
    EXPECT_EQ(read.State(), Presence::Present);
    EXPECT_TRUE(read.GetValue().empty());
    read.SetBytes(ByteView(ByteArray(bytes.begin(), bytes.begin() + 26)));
    EXPECT_EQ(read.GetValue().size(), 2u);
    EXPECT_EQ(CardError([&] { read.SetBytes(ByteView(ByteArray(27, '0'))); }),
              u"Element with tag 0x801 has incorrect size of 27");
    ByteArray badDate = bytes;
    badDate[18] = 'X';  // second record's date
    EXPECT_EQ(CardError([&] { read.SetBytes(ByteView(badDate)); }),
              u"Date element has incorrect format");
    EXPECT_EQ(read.GetValue().size(), 2u);  // a failure leaves the previous list
}

TEST(InsuranceList, CodeLengthsAreCheckedPerRecord) {
    InsuranceListElement list(0x801, 260, Requirement::Optional);
    list.SetValue({Record(u"AB", u"123"), Record(u"A", u"123")});
    EXPECT_EQ(CardError([&] { list.EncodeToTlv(); }),
              u"Element with tag 0x801 has incorrect size for value Code on index 1");
    list.SetValue({Record(u"AB", u"1234")});
    EXPECT_EQ(CardError([&] { list.EncodeToTlv(); }),
              u"Element with tag 0x801 has incorrect size for value Policy Code on index 0");
    list.SetValue({Record(u"A\u00e9", u"123")});
    EXPECT_EQ(CardError([&] { list.EncodeToTlv(); }),
              u"Non-translatable characters found in string");
}

TEST(InsuranceList, TwentyRecordsFitAndTwentyOneDoNot) {
    ZKVariableAdminModel admin;
    std::vector<VoluntaryInsuranceRecord> records(20, Record(u"VI", u"POL"));
    admin.VoluntaryInsurances.SetValue(records);
    EXPECT_EQ(admin.VoluntaryInsurances.EncodeToTlv()->size(), 264u);
    records.push_back(Record(u"VI", u"POL"));
    admin.VoluntaryInsurances.SetValue(records);
    EXPECT_EQ(CardError([&] { admin.Encode(); }),
              u"Element with tag 0x801 has length 273, but maximum allowed is 260");
}

}  // namespace
