// DATE properties in several time zones: what a script writes it reads back unchanged, card
// dates show their calendar day, the model gets the local day, and bad DATEs are refused.
#include "blocks/date_convert.h"
#include "carvix/blocks/models.h"
#include "carvix/com/block_interfaces.h"
#include "script_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

using namespace carvix::com;
using carvix::test::NoticeCatcher;
using carvix::test::OleDate;
using carvix::test::ScriptObject;
using Orvel::DateTime;
using Orvel::DateTimeKind;

class InZone : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        const auto rules = Orvel::ParsePosixTimeZone(GetParam());
        ASSERT_TRUE(rules.has_value()) << GetParam();
        zone = std::make_unique<Orvel::LocalTimeZone>(*rules);
        scoped = std::make_unique<ScopedBlockTimeZone>(*zone);
    }
    void TearDown() override { scoped.reset(); }

    std::unique_ptr<Orvel::LocalTimeZone> zone;
    std::unique_ptr<ScopedBlockTimeZone> scoped;
};

TEST_P(InZone, WhatAScriptWritesItReadsBack) {
    ScriptObject perso(kClsidVLVariablePersoBlock);
    ScriptObject address(kClsidZKVariablePersoBlock);
    ScriptObject insurance(kClsidVoluntaryInsurance);
    const DATE dates[] = {
        OleDate(2024, 6, 30, 23, 0, 0),
        OleDate(2024, 1, 1),
        OleDate(2024, 10, 27, 0, 30, 0),  // the repeated hour in Europe
        OleDate(2024, 10, 27, 1, 30, 0),
        OleDate(2024, 3, 31, 1, 30, 0),
        OleDate(2024, 11, 3, 5, 30, 0),
        OleDate(2024, 11, 3, 6, 30, 0),  // ... in America
        OleDate(2024, 4, 6, 15, 30, 0),
        OleDate(2024, 4, 6, 16, 30, 0),  // ... in Australia
        OleDate(1601, 1, 1),
        OleDate(1899, 12, 30, 6, 0, 0),
        OleDate(1700, 2, 28, 12, 0, 0),
        OleDate(9999, 12, 30, 23, 59, 59),
        OleDate(2000, 2, 29, 13, 14, 15),
    };
    for (const DATE date : dates) {
        ASSERT_EQ(perso.PutDate(u"ServiceStartDate", date), S_OK);
        EXPECT_EQ(perso.Date(u"ServiceStartDate"), date) << GetParam() << " " << date;
        ASSERT_EQ(perso.PutDate(u"ServiceEndDate", date), S_OK);
        EXPECT_EQ(perso.Date(u"ServiceEndDate"), date);
        ASSERT_EQ(address.PutDate(u"DateOfIssue", date), S_OK);
        EXPECT_EQ(address.Flag(u"DateOfIssueSpecified"), VARIANT_TRUE);
        EXPECT_EQ(address.Date(u"DateOfIssue"), date);
        ASSERT_EQ(insurance.PutDate(u"ValidTo", date), S_OK);
        EXPECT_EQ(insurance.Date(u"ValidTo"), date);
    }
}

TEST_P(InZone, CardDatesShowTheirCalendarDay) {
    VLDocumentModel card;
    card.DateOfIssue.SetValue(DateTime(2024, 3, 5, DateTimeKind::Utc));
    card.DateOfExpiry.SetValue(DateTime(2024, 10, 27, DateTimeKind::Utc));
    ScriptObject block(kClsidVLDocumentBlock);
    auto* doc = block.As<IVLDocumentBlock>();
    ASSERT_EQ(LoadBlock(doc, card), S_OK);
    doc->Release();
    EXPECT_EQ(block.Date(u"DateOfIssue"), OleDate(2024, 3, 5));
    EXPECT_EQ(block.Date(u"DateOfExpiry"), OleDate(2024, 10, 27));
}

TEST_P(InZone, TheModelGetsTheLocalTimeOfTheInstant) {
    ScriptObject block(kClsidVLVariablePersoBlock);
    ASSERT_EQ(block.PutDate(u"ServiceStartDate", OleDate(2024, 6, 30, 23, 0, 0)), S_OK);
    VLVariablePersoModel written;
    auto* perso = block.As<IVLVariablePersoBlock>();
    ASSERT_EQ(StoreBlock(perso, written), S_OK);
    perso->Release();
    const DateTime stored = written.ServiceStartDate.GetValue();
    EXPECT_TRUE(stored.Kind() == DateTimeKind::Local ||
                stored.Kind() == DateTimeKind::LocalAmbiguousDst);
    const DateTime expected =
        zone->UtcToLocal(DateTime(2024, 6, 30, 23, 0, 0, 0, DateTimeKind::Utc));
    EXPECT_EQ(stored, expected);
}

INSTANTIATE_TEST_SUITE_P(Zones, InZone,
                         ::testing::Values("UTC0", "CET-1CEST,M3.5.0,M10.5.0/3",
                                           "EST5EDT,M3.2.0,M11.1.0", "AEST-10AEDT,M10.1.0,M4.1.0/3",
                                           "IST-5:30"));

TEST(Dates, TheLocalDayIsWhatTheCardGets) {
    const auto rules = Orvel::ParsePosixTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
    ASSERT_TRUE(rules.has_value());
    const Orvel::LocalTimeZone zone(*rules);
    ScopedBlockTimeZone scoped(zone);
    ScriptObject block(kClsidVLVariablePersoBlock);
    ASSERT_EQ(block.PutDate(u"ServiceStartDate", OleDate(2024, 6, 30, 23, 0, 0)), S_OK);
    VLVariablePersoModel written;
    auto* perso = block.As<IVLVariablePersoBlock>();
    ASSERT_EQ(StoreBlock(perso, written), S_OK);
    perso->Release();
    EXPECT_EQ(written.ServiceStartDate.GetValue().Day(), 1);  // 1 July 01:00 in Central Europe
    EXPECT_EQ(DateElement::EncodeDate(written.ServiceStartDate.GetValue()),
              Orvel::ByteArray({'0', '1', '0', '7', '2', '0', '2', '4'}));
}

TEST(Dates, DatesThatAreNoDateAreRefusedAndTheOldValueStays) {
    NoticeCatcher notices;
    ScriptObject block(kClsidVLVariablePersoBlock);
    const DATE kept = OleDate(2020, 5, 6);
    ASSERT_EQ(block.PutDate(u"ServiceStartDate", kept), S_OK);
    for (const DATE bad : {1e7, -1e7, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(block.PutDate(u"ServiceStartDate", bad), E_FAIL) << bad;
        EXPECT_EQ(block.PutDate(u"ServiceEndDate", bad), E_FAIL) << bad;
    }
    EXPECT_EQ(block.Date(u"ServiceStartDate"), kept);
    EXPECT_EQ(block.Flag(u"ServiceEndDateSpecified"), VARIANT_FALSE);
    EXPECT_TRUE(NoticeCatcher::Seen().empty());
}

TEST(Dates, DatesBefore1601BecomeItsFirstInstant) {
    const Orvel::LocalTimeZone utc(Orvel::TimeZoneRules{});
    ScopedBlockTimeZone scoped(utc);
    ScriptObject block(kClsidVLVariablePersoBlock);
    ASSERT_EQ(block.PutDate(u"ServiceStartDate", OleDate(1500, 7, 1)), S_OK);
    EXPECT_EQ(block.Date(u"ServiceStartDate"), OleDate(1601, 1, 1));
}

TEST(Dates, ACardDateBefore1601ShowsTheNoticeEachTime) {
    NoticeCatcher notices;
    VLFixedPersoModel card;
    card.DateOfBirth.SetValue(DateTime(1600, 12, 31, DateTimeKind::Utc));
    ScriptObject block(kClsidVLFixedPersoBlock);
    auto* perso = block.As<IVLFixedPersoBlock>();
    ASSERT_EQ(LoadBlock(perso, card), S_OK);
    DATE untouched = 123.0;
    EXPECT_EQ(perso->get_DateOfBirth(&untouched), E_FAIL);
    EXPECT_EQ(untouched, 123.0);
    EXPECT_EQ(block.Try(u"DateOfBirth"), E_FAIL);
    EXPECT_EQ(NoticeCatcher::Seen().size(), 2u);
    perso->Release();
}

TEST(Dates, ConversionsGiveNothingRatherThanFailing) {
    const Orvel::LocalTimeZone utc(Orvel::TimeZoneRules{});
    EXPECT_FALSE(DateTimeToOleDate(DateTime(), utc).has_value());
    EXPECT_FALSE(DateTimeToOleDate(DateTime(1600, 12, 31, 23, 59, 59, 999, DateTimeKind::Utc), utc)
                     .has_value());
    EXPECT_EQ(DateTimeToOleDate(DateTime(1601, 1, 1, DateTimeKind::Utc), utc), OleDate(1601, 1, 1));
    EXPECT_EQ(DateTimeToOleDate(DateTime(1601, 1, 1, DateTimeKind::Unspecified), utc),
              OleDate(1601, 1, 1));
    EXPECT_FALSE(OleDateToDateTime(std::nan(""), utc).has_value());
    // Near the end of the range a local time past 9999 is clamped instead of failing.
    const auto east = Orvel::ParsePosixTimeZone("<+14>-14");
    ASSERT_TRUE(east.has_value());
    const Orvel::LocalTimeZone kiribati(*east);
    const auto late = OleDateToDateTime(OleDate(9999, 12, 31, 20, 0, 0), kiribati);
    ASSERT_TRUE(late.has_value());
    EXPECT_EQ(late->Ticks(), DateTime::kMaxTicks);
}

}  // namespace
