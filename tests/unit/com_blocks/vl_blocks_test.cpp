// The VL document block and the variable personal block, read and edited as a script would.
#include "carvix/blocks/models.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/notifier.h"
#include "script_object.h"

#include <gtest/gtest.h>

namespace {

using namespace carvix::com;
using carvix::test::NoticeCatcher;
using carvix::test::OleDate;
using carvix::test::ScriptObject;
using carvix::test::Variant;
using Orvel::DateTime;
using Orvel::DateTimeKind;

TEST(NeverLoadedDocumentBlock, ShowsEmptyTextAndRefusesItsDates) {
    NoticeCatcher notices;
    ScriptObject block(kClsidVLDocumentBlock);
    Variant id;
    ASSERT_EQ(block.Get(u"CardID", id.v), S_OK);
    EXPECT_EQ(id.v.vt, VT_BSTR);
    EXPECT_EQ(id.v.bstrVal, nullptr);
    EXPECT_TRUE(NoticeCatcher::Seen().empty());

    EXPECT_EQ(block.Try(u"DateOfIssue"), E_FAIL);
    ASSERT_EQ(NoticeCatcher::Seen().size(), 1u);
    EXPECT_EQ(NoticeCatcher::Seen()[0].caption, u"Tessaro");
    EXPECT_EQ(NoticeCatcher::Seen()[0].text, u"Invalid value for date/time.");
    EXPECT_EQ(NoticeCatcher::Seen()[0].style, 0x30u);
    EXPECT_EQ(block.Try(u"DateOfExpiry"), E_FAIL);
    EXPECT_EQ(NoticeCatcher::Seen().size(), 2u);
}

TEST(DocumentBlock, ShowsTheModelsFieldsAndKeepsThemAfterTheModelIsGone) {
    ScriptObject block(kClsidVLDocumentBlock);
    {
        VLDocumentModel model;
        model.CardID.SetValue(u"123456789");
        model.DateOfIssue.SetValue(DateTime(2021, 3, 5, DateTimeKind::Utc));
        model.DateOfExpiry.SetValue(DateTime(2031, 3, 4, DateTimeKind::Utc));
        model.ChipSerialNumber.SetValue(u"0011223344556677");
        auto* doc = block.As<IVLDocumentBlock>();
        EXPECT_EQ(LoadBlock(doc, model), S_OK);
        doc->Release();
    }
    EXPECT_EQ(block.Text(u"CardID"), u"123456789");
    EXPECT_EQ(block.Date(u"DateOfIssue"), OleDate(2021, 3, 5));
    EXPECT_EQ(block.Date(u"DateOfExpiry"), OleDate(2031, 3, 4));
    EXPECT_EQ(block.Text(u"chipserialnumber"), u"0011223344556677");
}

TEST(DocumentBlock, IsReadOnlyForScripts) {
    ScriptObject block(kClsidVLDocumentBlock);
    EXPECT_EQ(block.PutText(u"CardID", u"x"), DISP_E_MEMBERNOTFOUND);
    auto* doc = block.As<IVLDocumentBlock>();
    EXPECT_EQ(doc->get_CardID(nullptr), E_INVALIDARG);
    EXPECT_EQ(doc->get_DateOfIssue(nullptr), E_INVALIDARG);
    doc->Release();
}

TEST(VariablePersoBlock, RankAndItsFlagFollowEachOther) {
    ScriptObject block(kClsidVLVariablePersoBlock);
    EXPECT_EQ(block.Flag(u"RankSpecified"), VARIANT_FALSE);
    EXPECT_EQ(block.Try(u"Rank"), E_FAIL);

    ASSERT_EQ(block.PutNumber(u"Rank", 5), S_OK);
    EXPECT_EQ(block.Flag(u"RankSpecified"), VARIANT_TRUE);
    EXPECT_EQ(block.Number(u"Rank"), 5);

    ASSERT_EQ(block.PutFlag(u"RankSpecified", VARIANT_FALSE), S_OK);
    EXPECT_EQ(block.Try(u"Rank"), E_FAIL);
    VLVariablePersoModel written;
    auto* perso = block.As<IVLVariablePersoBlock>();
    EXPECT_EQ(StoreBlock(perso, written), S_OK);
    EXPECT_TRUE(written.Rank.IsNull());

    ASSERT_EQ(block.PutFlag(u"RankSpecified", VARIANT_TRUE), S_OK);
    EXPECT_EQ(block.Number(u"Rank"), 5);
    VLVariablePersoModel again;
    EXPECT_EQ(StoreBlock(perso, again), S_OK);
    EXPECT_FALSE(again.Rank.IsNull());
    EXPECT_EQ(again.Rank.GetValue(), 5);
    perso->Release();
}

TEST(VariablePersoBlock, AnyNonZeroValueSetsAFlag) {
    ScriptObject block(kClsidVLVariablePersoBlock);
    for (std::int32_t value : {1, -1, 2, 0x10000, -7}) {
        ASSERT_EQ(block.PutFlag(u"UnitNoSpecified", VARIANT_FALSE), S_OK);
        ASSERT_EQ(block.PutNumber(u"UnitNoSpecified", value), S_OK) << value;
        EXPECT_EQ(block.Flag(u"UnitNoSpecified"), VARIANT_TRUE) << value;
    }
    ASSERT_EQ(block.PutNumber(u"UnitNoSpecified", 0), S_OK);
    EXPECT_EQ(block.Flag(u"UnitNoSpecified"), VARIANT_FALSE);
    // A flag set without its field exposes the field's initial value.
    ASSERT_EQ(block.PutFlag(u"HealthWorkerIDSpecified", VARIANT_TRUE), S_OK);
    Variant text;
    ASSERT_EQ(block.Get(u"HealthWorkerID", text.v), S_OK);
    EXPECT_EQ(text.v.bstrVal, nullptr);
}

TEST(VariablePersoBlock, AnAbsentUnitNumberIsWrittenOnceSet) {
    VLVariablePersoModel card;
    card.OrgUnit.SetValue(u"Unit");
    card.ServiceSite.SetValue(u"Site");
    card.ServiceStartDate.SetValue(DateTime(2020, 1, 2, DateTimeKind::Utc));
    ScriptObject block(kClsidVLVariablePersoBlock);
    auto* perso = block.As<IVLVariablePersoBlock>();
    ASSERT_EQ(LoadBlock(perso, card), S_OK);
    EXPECT_EQ(block.Flag(u"UnitNoSpecified"), VARIANT_FALSE);
    EXPECT_EQ(block.Try(u"UnitNo"), E_FAIL);
    EXPECT_EQ(block.Try(u"ServiceEndDate"), E_FAIL);  // no notice for an absent date

    ASSERT_EQ(block.PutText(u"UnitNo", u"U-17"), S_OK);
    EXPECT_EQ(block.Flag(u"UnitNoSpecified"), VARIANT_TRUE);
    VLVariablePersoModel written;
    ASSERT_EQ(StoreBlock(perso, written), S_OK);
    EXPECT_EQ(written.UnitNo.GetValue(), u"U-17");
    EXPECT_EQ(written.OrgUnit.GetValue(), u"Unit");
    EXPECT_EQ(written.ServiceStartDate.GetValue(), card.ServiceStartDate.GetValue());
    EXPECT_TRUE(written.ServiceEndDate.IsNull());
    EXPECT_TRUE(written.HealthWorkerID.IsNull());
    perso->Release();
}

TEST(VariablePersoBlock, LoadingAgainOnlyClearsTheFlagsOfAbsentFields) {
    VLVariablePersoModel first;
    first.UnitNo.SetValue(u"first");
    VLVariablePersoModel second;
    ScriptObject block(kClsidVLVariablePersoBlock);
    auto* perso = block.As<IVLVariablePersoBlock>();
    ASSERT_EQ(LoadBlock(perso, first), S_OK);
    ASSERT_EQ(LoadBlock(perso, second), S_OK);
    EXPECT_EQ(block.Try(u"UnitNo"), E_FAIL);
    ASSERT_EQ(block.PutFlag(u"UnitNoSpecified", VARIANT_TRUE), S_OK);
    EXPECT_EQ(block.Text(u"UnitNo"), u"first");
    perso->Release();
}

TEST(VariablePersoBlock, NullTextStoresTheEmptyString) {
    ScriptObject block(kClsidVLVariablePersoBlock);
    auto* perso = block.As<IVLVariablePersoBlock>();
    ASSERT_EQ(perso->put_OrgUnit(nullptr), S_OK);
    ASSERT_EQ(perso->put_UnitNo(nullptr), S_OK);
    VLVariablePersoModel written;
    ASSERT_EQ(StoreBlock(perso, written), S_OK);
    EXPECT_EQ(written.OrgUnit.GetValue(), u"");
    EXPECT_EQ(written.UnitNo.GetValue(), u"");
    perso->Release();
}

}  // namespace
