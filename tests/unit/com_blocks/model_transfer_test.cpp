// Models reach a block object only through its private in-process interface: nothing a
// script or a foreign caller puts into Load's or Store's VARIANT is ever taken for a model.
#include "carvix/com/model_transfer.h"
#include "carvix/blocks/models.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/module.h"
#include "script_object.h"

#include <gtest/gtest.h>

namespace {

using namespace carvix::com;
using carvix::test::ScriptObject;

struct Released {
    IUnknown* p;
    ~Released() { p->Release(); }
};

TEST(ModelTransfer, ScriptsCannotCallLoadOrStore) {
    ScriptObject block(kClsidVLVariablePersoBlock);
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 42;
    EXPECT_EQ(block.Call(u"Load", {number}), E_INVALIDARG);
    EXPECT_EQ(block.Call(u"Store", {number}), E_INVALIDARG);
}

TEST(ModelTransfer, DirectLoadAndStoreRefuseEveryArgument) {
    ScriptObject object(kClsidVLVariablePersoBlock);
    auto* block = object.As<IVLVariablePersoBlock>();
    Released release{block};
    VLVariablePersoModel model;
    model.OrgUnit.SetValue(u"kept");

    EXPECT_EQ(block->Load(nullptr), E_INVALIDARG);
    EXPECT_EQ(block->Store(nullptr), E_INVALIDARG);
    // The model's own address where a VARIANT is expected.
    EXPECT_EQ(block->Store(reinterpret_cast<VARIANT*>(&model)), E_INVALIDARG);
    EXPECT_EQ(block->Load(reinterpret_cast<VARIANT*>(&model)), E_INVALIDARG);
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_UI1;
    byRef.byref = &model;
    EXPECT_EQ(block->Store(&byRef), E_INVALIDARG);
    EXPECT_EQ(model.OrgUnit.GetValue(), u"kept");
}

TEST(ModelTransfer, TheModelMustBeOfTheBlocksType) {
    ScriptObject object(kClsidVLVariablePersoBlock);
    ZKVariablePersoModel sameBlockId;  // 0x0D03 as well, but another model
    sameBlockId.Street.SetValue(u"kept");
    EXPECT_EQ(LoadBlock(object.Dispatch(), sameBlockId), E_INVALIDARG);
    EXPECT_EQ(StoreBlock(object.Dispatch(), sameBlockId), E_INVALIDARG);
    EXPECT_EQ(sameBlockId.Street.GetValue(), u"kept");
    CardDocumentModel noBlockClass;
    EXPECT_EQ(LoadBlock(object.Dispatch(), static_cast<const CardBlock&>(noBlockClass)),
              E_INVALIDARG);
}

TEST(ModelTransfer, LoadsAndStoresThroughIUnknown) {
    ScriptObject perso(kClsidVLVariablePersoBlock);
    VLVariablePersoModel card;
    card.OrgUnit.SetValue(u"Unit");
    card.Rank.SetValue(3);
    const CardBlock& asBlock = card;
    EXPECT_EQ(LoadBlock(perso.Dispatch(), asBlock), S_OK);
    EXPECT_EQ(perso.Text(u"OrgUnit"), u"Unit");
    EXPECT_EQ(perso.Number(u"Rank"), 3);

    // The write direction: an empty model filled by the caller's block object.
    ASSERT_EQ(perso.PutText(u"OrgUnit", u"edited"), S_OK);
    ASSERT_EQ(perso.PutFlag(u"RankSpecified", VARIANT_FALSE), S_OK);
    VLVariablePersoModel written;
    CardBlock& target = written;
    EXPECT_EQ(StoreBlock(perso.Dispatch(), target), S_OK);
    EXPECT_EQ(written.OrgUnit.GetValue(), u"edited");
    EXPECT_TRUE(written.Rank.IsNull());  // a field without its flag is left as the model has it
}

TEST(ModelTransfer, GetOnlyBlocksAreNeverStoredInto) {
    ScriptObject document(kClsidVLDocumentBlock);
    VLDocumentModel doc;
    doc.CardID.SetValue(u"123456789");
    EXPECT_EQ(LoadBlock(document.Dispatch(), doc), S_OK);
    VLDocumentModel out;
    EXPECT_EQ(StoreBlock(document.Dispatch(), out), E_NOINTERFACE);
}

TEST(ModelTransfer, ForeignObjectsAndNullAreRefused) {
    VLDocumentModel doc;
    EXPECT_EQ(LoadBlock(nullptr, doc), E_INVALIDARG);
    // A class of the module that is no block object.
    ScriptObject utilities(kClsidUtilitiesService);
    EXPECT_EQ(LoadBlock(utilities.Dispatch(), doc), E_NOINTERFACE);
    // A record goes only to a voluntary insurance.
    ScriptObject document(kClsidVLDocumentBlock);
    VoluntaryInsuranceRecord record;
    EXPECT_EQ(StoreBlock(document.Dispatch(), record), E_NOINTERFACE);
}

TEST(ModelTransfer, UnknownClassesAreNotCreated) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateObject(kIidIVLDocumentBlock, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
}

}  // namespace
