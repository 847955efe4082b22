// The voluntary-insurance array of the variable administrative block: what Load builds, what
// scripts may put, how Store walks it, and that elements are shared and released.
#include "carvix/blocks/models.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/module.h"
#include "script_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace carvix::com;
using carvix::test::OleDate;
using carvix::test::ScriptObject;
using carvix::test::Variant;
using Orvel::DateTime;
using Orvel::DateTimeKind;

VoluntaryInsuranceRecord Record(const char16_t* code, const char16_t* policy, int year) {
    return {code, policy, DateTime(year, 12, 31, DateTimeKind::Utc)};
}

class Insurances : public ::testing::Test {
  protected:
    void SetUp() override { block = object.As<IZKVariableAdminBlock>(); }
    void TearDown() override { block->Release(); }

    void Load(std::vector<VoluntaryInsuranceRecord> records, bool present = true) {
        ZKVariableAdminModel model;
        model.InsurerName.SetValue(u"Insurer");
        if (present) {
            model.VoluntaryInsurances.SetValue(std::move(records));
        }
        ASSERT_EQ(LoadBlock(block, model), S_OK);
    }
    /// Store into a fresh model: the HRESULT, and the model in `out`.
    HRESULT Store(ZKVariableAdminModel& out) { return StoreBlock(block, out); }

    /// The array as a script reads it.
    std::vector<IDispatch*> Elements(Variant& holder) {
        EXPECT_EQ(object.Get(u"VoluntaryInsurances", holder.v), S_OK);
        EXPECT_EQ(holder.v.vt, VT_ARRAY | VT_VARIANT);
        std::vector<IDispatch*> out;
        std::int32_t lower = -1, upper = -2;
        EXPECT_EQ(SafeArrayGetLBound(holder.v.parray, 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(holder.v.parray, 1, &upper), S_OK);
        EXPECT_EQ(lower, 0);
        for (std::int32_t i = lower; i <= upper; ++i) {
            Variant element;
            EXPECT_EQ(SafeArrayGetElement(holder.v.parray, &i, &element.v), S_OK);
            EXPECT_EQ(element.v.vt, VT_DISPATCH);
            out.push_back(element.v.pdispVal);  // the array keeps its reference
        }
        return out;
    }

    ScriptObject object{kClsidZKVariableAdminBlock};
    IZKVariableAdminBlock* block = nullptr;
};

/// A VARIANT holding a new array of VARIANTs with the given lower bound and elements.
VARIANT ArrayOf(std::int32_t lower, const std::vector<IDispatch*>& elements) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray =
        SafeArrayCreateVector(VT_VARIANT, lower, static_cast<std::uint32_t>(elements.size()));
    for (std::size_t i = 0; i < elements.size(); ++i) {
        VARIANT e;
        VariantInit(&e);
        e.vt = VT_DISPATCH;
        e.pdispVal = elements[i];
        std::int32_t index = lower + static_cast<std::int32_t>(i);
        EXPECT_EQ(SafeArrayPutElement(v.parray, &index, &e), S_OK);
    }
    return v;
}

TEST_F(Insurances, LoadedRecordsBecomeObjectsInListOrder) {
    Load({Record(u"AB", u"123", 2030), Record(u"CD", u"456", 2031), Record(u"AB", u"123", 2030)});
    Variant holder;
    const auto elements = Elements(holder);
    ASSERT_EQ(elements.size(), 3u);
    elements[1]->AddRef();
    ScriptObject second(elements[1]);
    EXPECT_EQ(second.Text(u"Code"), u"CD");
    EXPECT_EQ(second.Text(u"PolicyCode"), u"456");
    EXPECT_EQ(second.Date(u"ValidTo"), OleDate(2031, 12, 31));

    ZKVariableAdminModel written;
    ASSERT_EQ(Store(written), S_OK);
    ASSERT_FALSE(written.VoluntaryInsurances.IsNull());
    const auto records = written.VoluntaryInsurances.GetValue();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], Record(u"AB", u"123", 2030));
    EXPECT_EQ(records[1], Record(u"CD", u"456", 2031));
    EXPECT_EQ(records[2], records[0]);  // duplicates are kept
}

TEST_F(Insurances, EditingAnElementOfTheReadArrayChangesWhatStoreWrites) {
    Load({Record(u"AB", u"123", 2030)});
    {
        Variant holder;
        const auto elements = Elements(holder);
        ASSERT_EQ(elements.size(), 1u);
        elements[0]->AddRef();
        ScriptObject first(elements[0]);
        ASSERT_EQ(first.PutText(u"Code", u"ZZ"), S_OK);
    }
    Variant again;
    const auto elements = Elements(again);
    elements[0]->AddRef();
    ScriptObject same(elements[0]);
    EXPECT_EQ(same.Text(u"Code"), u"ZZ");
    ZKVariableAdminModel written;
    ASSERT_EQ(Store(written), S_OK);
    EXPECT_EQ(written.VoluntaryInsurances.GetValue().at(0).Code, u"ZZ");
}

TEST_F(Insurances, WithoutInsurancesThereIsNoArrayUntilOneIsPut) {
    for (bool present : {false, true}) {  // absent, or present and empty
        Load({}, present);
        EXPECT_EQ(object.Try(u"VoluntaryInsurances"), E_INVALIDARG);
        VARIANT null;
        VariantInit(&null);
        null.vt = VT_NULL;
        ASSERT_EQ(object.Put(u"VoluntaryInsurances", null), S_OK);
        EXPECT_EQ(object.Try(u"VoluntaryInsurances"), E_INVALIDARG);
        ZKVariableAdminModel untouched;
        EXPECT_EQ(Store(untouched), E_INVALIDARG);
        EXPECT_EQ(untouched.InsurerName.GetValue(), u"");  // nothing written

        Variant empty;
        empty.v = ArrayOf(0, {});
        ASSERT_EQ(object.Put(u"VoluntaryInsurances", empty.v), S_OK);
        ZKVariableAdminModel written;
        ASSERT_EQ(Store(written), S_OK);
        EXPECT_FALSE(written.VoluntaryInsurances.IsNull());
        EXPECT_TRUE(written.VoluntaryInsurances.GetValue().empty());
        EXPECT_EQ(written.InsurerName.GetValue(), u"Insurer");
        // Present and empty: the element is in the block with length 0.
        const Orvel::ByteArray bytes = written.Encode();
        const std::uint8_t emptyList[] = {0x01, 0x08, 0x00, 0x00};
        EXPECT_TRUE(std::search(bytes.begin(), bytes.end(), std::begin(emptyList),
                                std::end(emptyList)) != bytes.end());
    }
}

TEST_F(Insurances, OnlyArraysOfVariantsOrNullArePut) {
    Load({Record(u"AB", u"123", 2030)});
    Variant bstrs;
    bstrs.v.vt = VT_ARRAY | VT_BSTR;
    bstrs.v.parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
    EXPECT_EQ(object.Put(u"VoluntaryInsurances", bstrs.v), E_INVALIDARG);
    // The type claims VARIANTs, the array holds BSTRs.
    VARIANT lying = bstrs.v;
    lying.vt = VT_ARRAY | VT_VARIANT;
    EXPECT_EQ(block->put_VoluntaryInsurances(&lying), E_INVALIDARG);
    VARIANT noArray;
    VariantInit(&noArray);
    noArray.vt = VT_ARRAY | VT_VARIANT;
    EXPECT_EQ(block->put_VoluntaryInsurances(&noArray), E_INVALIDARG);
    EXPECT_EQ(block->put_VoluntaryInsurances(nullptr), E_INVALIDARG);
    EXPECT_EQ(object.PutNumber(u"VoluntaryInsurances", 1), E_INVALIDARG);
    EXPECT_EQ(object.PutText(u"VoluntaryInsurances", u"AB123"), E_INVALIDARG);

    Variant holder;
    EXPECT_EQ(Elements(holder).size(), 1u);  // the old array stays
}

TEST_F(Insurances, AScriptBuildsTheListFromNewObjects) {
    Load({});
    ScriptObject a(kClsidVoluntaryInsurance);
    ScriptObject b(kClsidVoluntaryInsurance);
    ASSERT_EQ(a.PutText(u"Code", u"XY"), S_OK);
    ASSERT_EQ(a.PutText(u"PolicyCode", u"789"), S_OK);
    ASSERT_EQ(a.PutDate(u"ValidTo", OleDate(2033, 1, 2)), S_OK);
    ASSERT_EQ(b.PutText(u"Code", u"QQ"), S_OK);
    Variant list;
    list.v = ArrayOf(0, {a.Dispatch(), b.Dispatch()});
    ASSERT_EQ(object.Put(u"VoluntaryInsurances", list.v), S_OK);
    ASSERT_EQ(a.PutText(u"PolicyCode", u"780"), S_OK);  // the objects are shared, not copied
    ZKVariableAdminModel written;
    ASSERT_EQ(Store(written), S_OK);
    const auto records = written.VoluntaryInsurances.GetValue();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Code, u"XY");
    EXPECT_EQ(records[0].PolicyCode, u"780");
    EXPECT_EQ(records[1].Code, u"QQ");
    EXPECT_EQ(records[1].ValidTo.Ticks(), 0u);  // a new record's zero date
}

TEST_F(Insurances, StoreWalksOnlyZeroBasedArraysOfObjects) {
    Load({});
    ScriptObject a(kClsidVoluntaryInsurance);
    ZKVariableAdminModel before;
    before.VoluntaryInsurances.SetValue({Record(u"OL", u"DDD", 2029)});

    Variant oneBased;
    oneBased.v = ArrayOf(1, {a.Dispatch()});
    ASSERT_EQ(object.Put(u"VoluntaryInsurances", oneBased.v), S_OK);
    EXPECT_EQ(Store(before), E_INVALIDARG);
    EXPECT_EQ(before.VoluntaryInsurances.GetValue().at(0).Code, u"OL");

    Variant emptyOneBased;
    emptyOneBased.v = ArrayOf(1, {});
    ASSERT_EQ(object.Put(u"VoluntaryInsurances", emptyOneBased.v), S_OK);
    ZKVariableAdminModel empty;
    EXPECT_EQ(Store(empty), S_OK);  // nothing to walk, so the bound does not matter

    Variant texts;
    texts.v.vt = VT_ARRAY | VT_VARIANT;
    texts.v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"AB123");
    std::int32_t zero = 0;
    ASSERT_EQ(SafeArrayPutElement(texts.v.parray, &zero, &text), S_OK);
    VariantClear(&text);
    ASSERT_EQ(object.Put(u"VoluntaryInsurances", texts.v), S_OK);  // not examined yet
    EXPECT_EQ(Store(before), E_INVALIDARG);

    ScriptObject notAnInsurance(kClsidVLDocumentBlock);
    Variant wrongObjects;
    wrongObjects.v = ArrayOf(0, {a.Dispatch(), notAnInsurance.Dispatch()});
    ASSERT_EQ(object.Put(u"VoluntaryInsurances", wrongObjects.v), S_OK);
    EXPECT_EQ(Store(before), E_NOINTERFACE);
    EXPECT_EQ(before.VoluntaryInsurances.GetValue().at(0).Code, u"OL");

    SAFEARRAYBOUND bounds[2] = {{1, 0}, {1, 0}};
    Variant square;
    square.v.vt = VT_ARRAY | VT_VARIANT;
    square.v.parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    ASSERT_EQ(object.Put(u"VoluntaryInsurances", square.v), S_OK);
    EXPECT_EQ(Store(before), E_INVALIDARG);
}

TEST_F(Insurances, APutArrayIsCopiedAlsoWhenPassedByReference) {
    Load({});
    ScriptObject a(kClsidVoluntaryInsurance);
    ASSERT_EQ(a.PutText(u"Code", u"RF"), S_OK);
    VARIANT own = ArrayOf(0, {a.Dispatch()});
    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
    byRef.pparray = &own.parray;
    ASSERT_EQ(object.Put(u"VoluntaryInsurances", byRef), S_OK);
    VariantClear(&own);  // the caller's array is gone; the object has its own
    ZKVariableAdminModel written;
    ASSERT_EQ(Store(written), S_OK);
    EXPECT_EQ(written.VoluntaryInsurances.GetValue().at(0).Code, u"RF");
}

TEST(InsuranceObjects, AreReleasedWithTheirBlockAndOnReload) {
    const long before = ModuleLockCount();
    {
        ScriptObject object(kClsidZKVariableAdminBlock);
        auto* block = object.As<IZKVariableAdminBlock>();
        ZKVariableAdminModel model;
        model.VoluntaryInsurances.SetValue(
            {Record(u"AB", u"123", 2030), Record(u"CD", u"456", 2031)});
        ASSERT_EQ(LoadBlock(block, model), S_OK);
        EXPECT_EQ(ModuleLockCount(), before + 3);
        model.VoluntaryInsurances.SetValue({Record(u"EF", u"789", 2032)});
        ASSERT_EQ(LoadBlock(block, model), S_OK);
        EXPECT_EQ(ModuleLockCount(), before + 2);
        {
            Variant copy;
            ASSERT_EQ(object.Get(u"VoluntaryInsurances", copy.v), S_OK);
            EXPECT_EQ(ModuleLockCount(), before + 2);  // shared, not new objects
        }
        block->Release();
    }
    EXPECT_EQ(ModuleLockCount(), before);
}

}  // namespace
