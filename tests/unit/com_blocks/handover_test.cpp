// Load and Store accept only a model handed over in process: nothing a script or a foreign
// caller puts into the VARIANT is ever taken for a model.
#include "blocks/block_classes.h"
#include "carvix/blocks/models.h"
#include "carvix/com/block_interfaces.h"
#include "model_samples.h"
#include "script_object.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace carvix::com;
using carvix::test::ScriptObject;

struct Released {
    IUnknown* p;
    ~Released() { p->Release(); }
};

TEST(HandOver, ScriptsCannotCallLoadOrStore) {
    ScriptObject block(kClsidVLVariablePersoBlock);
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 42;
    EXPECT_EQ(block.Call(u"Load", {number}), E_INVALIDARG);
    EXPECT_EQ(block.Call(u"Store", {number}), E_INVALIDARG);

    // Even a VARIANT that looks like a hand-over is refused on the IDispatch path.
    VLVariablePersoModel model;
    model.OrgUnit.SetValue(u"kept");
    ModelHandOver handOver(model);
    EXPECT_EQ(block.Call(u"Store", {*handOver.Arg()}), E_INVALIDARG);
    EXPECT_EQ(model.OrgUnit.GetValue(), u"kept");
}

TEST(HandOver, DirectCallsWithoutALiveHandOverAreRefused) {
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

    // A forged tag with guessed tokens, and a token that has expired.
    VARIANT forged{};
    {
        ModelHandOver handOver(model);
        forged = *handOver.Arg();
    }
    EXPECT_EQ(block->Store(&forged), E_INVALIDARG);
    std::mt19937_64 random(7);
    for (int i = 0; i < 100; ++i) {
        forged.ullVal = random();
        EXPECT_EQ(block->Store(&forged), E_INVALIDARG);
    }
    EXPECT_EQ(model.OrgUnit.GetValue(), u"kept");
}

TEST(HandOver, TheModelMustBeOfTheBlocksType) {
    ScriptObject object(kClsidVLVariablePersoBlock);
    auto* block = object.As<IVLVariablePersoBlock>();
    Released release{block};
    ZKVariablePersoModel sameBlockId;  // 0x0D03 as well, but another model
    sameBlockId.Street.SetValue(u"kept");
    EXPECT_EQ(LoadBlock(block, sameBlockId), E_INVALIDARG);
    EXPECT_EQ(StoreBlock(block, sameBlockId), E_INVALIDARG);
    EXPECT_EQ(sameBlockId.Street.GetValue(), u"kept");
}

TEST(HandOver, AConstModelCanBeLoadedButNotStoredInto) {
    ScriptObject object(kClsidVLVariablePersoBlock);
    auto* block = object.As<IVLVariablePersoBlock>();
    Released release{block};
    VLVariablePersoModel model;
    model.OrgUnit.SetValue(u"from the card");
    const VLVariablePersoModel& readOnly = model;
    EXPECT_EQ(LoadBlock(block, readOnly), S_OK);
    EXPECT_EQ(object.Text(u"OrgUnit"), u"from the card");
    ASSERT_EQ(object.PutText(u"OrgUnit", u"edited"), S_OK);
    {
        ModelHandOver handOver(readOnly);
        EXPECT_EQ(block->Store(handOver.Arg()), E_INVALIDARG);
    }
    EXPECT_EQ(model.OrgUnit.GetValue(), u"from the card");
    EXPECT_EQ(StoreBlock(block, model), S_OK);
    EXPECT_EQ(model.OrgUnit.GetValue(), u"edited");
}

TEST(HandOver, TokensAreUniqueWhileNested) {
    VLVariablePersoModel a;
    VLVariablePersoModel b;
    ModelHandOver first(a);
    ModelHandOver second(b);
    EXPECT_NE(first.Arg()->ullVal, second.Arg()->ullVal);
    EXPECT_EQ(ResolveModelForStore<VLVariablePersoModel>(first.Arg()), &a);
    EXPECT_EQ(ResolveModelForStore<VLVariablePersoModel>(second.Arg()), &b);
}

TEST(HandOver, UnknownClassesAreNotCreated) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateInProcess(kIidIVLDocumentBlock, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
}

}  // namespace

namespace {

TEST(HandOver, ModelsFindTheirBlockObjectThroughIUnknown) {
    ScriptObject perso(kClsidVLVariablePersoBlock);
    ScriptObject document(kClsidVLDocumentBlock);
    VLVariablePersoModel card;
    card.OrgUnit.SetValue(u"Unit");
    EXPECT_EQ(LoadBlockObject(perso.Dispatch(), card), S_OK);
    EXPECT_EQ(perso.Text(u"OrgUnit"), u"Unit");
    VLVariablePersoModel written;
    EXPECT_EQ(StoreBlockObject(perso.Dispatch(), written), S_OK);
    EXPECT_EQ(written.OrgUnit.GetValue(), u"Unit");

    EXPECT_EQ(LoadBlockObject(document.Dispatch(), card), E_NOINTERFACE);
    VLDocumentModel doc;
    EXPECT_EQ(LoadBlockObject(document.Dispatch(), doc), S_OK);
    EXPECT_EQ(StoreBlockObject(document.Dispatch(), doc), E_NOINTERFACE);
    CardDocumentModel noBlockClass;
    EXPECT_EQ(LoadBlockObject(document.Dispatch(), noBlockClass), E_INVALIDARG);
    EXPECT_EQ(LoadBlockObject(nullptr, doc), E_INVALIDARG);
}

}  // namespace
