// SAFEARRAY layout, bounds, element ownership and refusal of bad arrays.
#include "carvix/automation/oleauto.h"
#include "counted.h"

#include <gtest/gtest.h>

namespace {

TEST(SafeArray, VectorLayoutAndBounds) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 1, 3);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->cDims, 1);
    EXPECT_EQ(psa->cbElements, 4u);
    EXPECT_NE(psa->fFeatures & FADF_HAVEVARTYPE, 0);
    EXPECT_EQ(psa->rgsabound[0].cElements, 3u);
    EXPECT_EQ(psa->rgsabound[0].lLbound, 1);
    std::int32_t lb = 0, ub = 0;
    EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lb), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
    EXPECT_EQ(lb, 1);
    EXPECT_EQ(ub, 3);
    EXPECT_EQ(SafeArrayGetUBound(psa, 2, &ub), DISP_E_BADINDEX);
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
    EXPECT_EQ(vt, VT_I4);

    std::int32_t idx = 3, value = 42, back = 0;
    EXPECT_EQ(SafeArrayPutElement(psa, &idx, &value), S_OK);
    EXPECT_EQ(static_cast<std::int32_t*>(psa->pvData)[2], 42);
    EXPECT_EQ(SafeArrayGetElement(psa, &idx, &back), S_OK);
    EXPECT_EQ(back, 42);
    idx = 0;
    EXPECT_EQ(SafeArrayGetElement(psa, &idx, &back), DISP_E_BADINDEX);
    idx = 4;
    EXPECT_EQ(SafeArrayPutElement(psa, &idx, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, TwoDimensionsLeftmostIndexVariesFastest) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 10}};  // leftmost first
    SAFEARRAY* psa = SafeArrayCreate(VT_I2, 2, bounds);
    ASSERT_NE(psa, nullptr);
    std::int32_t lb = 0;
    SafeArrayGetLBound(psa, 2, &lb);
    EXPECT_EQ(lb, 10);
    std::int32_t idx[2] = {1, 11};
    std::int16_t v = 7;
    ASSERT_EQ(SafeArrayPutElement(psa, idx, &v), S_OK);
    EXPECT_EQ(static_cast<std::int16_t*>(psa->pvData)[1 + 1 * 2], 7);
    SafeArrayDestroy(psa);
}

TEST(SafeArray, DispatchElementsAreReferenceCounted) {
    CountedObject obj;
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = &obj;
    std::int32_t idx = 0;
    ASSERT_EQ(SafeArrayPutElement(psa, &idx, &v), S_OK);
    EXPECT_EQ(obj.refs, 2);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
    EXPECT_EQ(obj.refs, 3);
    SAFEARRAYBOUND grow{4, 0};
    ASSERT_EQ(SafeArrayRedim(copy, &grow), S_OK);
    VARIANT got;
    idx = 3;
    ASSERT_EQ(SafeArrayGetElement(copy, &idx, &got), S_OK);
    EXPECT_EQ(got.vt, VT_EMPTY);  // new cells start empty
    SAFEARRAYBOUND shrink{0, 0};
    ASSERT_EQ(SafeArrayRedim(copy, &shrink), S_OK);
    EXPECT_EQ(obj.refs, 2);  // the removed element was released
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(obj.refs, 1);

    SAFEARRAY* direct = SafeArrayCreateVector(VT_DISPATCH, 0, 2);
    idx = 1;
    ASSERT_EQ(SafeArrayPutElement(direct, &idx, static_cast<IDispatch*>(&obj)), S_OK);
    IDispatch* out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(direct, &idx, &out), S_OK);
    EXPECT_EQ(out, &obj);
    EXPECT_EQ(obj.refs, 3);
    out->Release();
    SafeArrayDestroy(direct);
    EXPECT_EQ(obj.refs, 1);
}

TEST(SafeArray, BstrElementsAreCopied) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 1);
    BSTR s = SysAllocString(u"abc");
    std::int32_t idx = 0;
    ASSERT_EQ(SafeArrayPutElement(psa, &idx, s), S_OK);
    SysFreeString(s);  // the array holds its own copy
    BSTR out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(psa, &idx, &out), S_OK);
    EXPECT_EQ(std::u16string(out, SysStringLen(out)), u"abc");
    SysFreeString(out);
    SafeArrayDestroy(psa);
}

TEST(SafeArray, LockedForeignAndNullArraysAreRefused) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 4);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    SAFEARRAYBOUND b{8, 0};
    EXPECT_EQ(SafeArrayRedim(psa, &b), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    // Destroyed and never-allocated arrays are recognised without being read.
    EXPECT_EQ(SafeArrayDestroy(psa), E_INVALIDARG);
    alignas(8) unsigned char junk[64] = {};
    auto* foreign = reinterpret_cast<SAFEARRAY*>(junk + 16);
    std::int32_t lb, idx = 0;
    EXPECT_EQ(SafeArrayGetLBound(foreign, 1, &lb), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(foreign, &idx, &lb), E_INVALIDARG);
    SAFEARRAY* out = reinterpret_cast<SAFEARRAY*>(1);
    EXPECT_EQ(SafeArrayCopy(foreign, &out), E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(SafeArrayCopy(nullptr, &out), S_OK);
    EXPECT_EQ(SafeArrayCreateVector(VT_RECORD, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_VARIANT, 0, 0x7FFFFFFF), nullptr);  // too large
}

}  // namespace
