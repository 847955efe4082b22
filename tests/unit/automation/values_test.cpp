// BSTR, VARIANT and VariantChangeType behaviour that clients rely on.
#include "carvix/automation/oleauto.h"
#include "counted.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::u16string Text(BSTR b) {
    return std::u16string(b, SysStringLen(b));
}

VARIANT Make(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}

TEST(Bstr, LayoutHasByteLengthPrefixAndTerminator) {
    BSTR s = SysAllocStringLen(u"ab\0c", 4);  // embedded zero kept
    std::uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 8u);
    EXPECT_EQ(SysStringLen(s), 4u);
    EXPECT_EQ(SysStringByteLen(s), 8u);
    EXPECT_EQ(s[4], 0);
    SysFreeString(s);

    BSTR bytes = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    SysFreeString(bytes);
}

TEST(Bstr, NullAndForeignPointersAreHarmless) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
    char16_t literal[] = u"plain";
    EXPECT_EQ(SysStringLen(literal), 5u);  // read as a zero-terminated text
    SysFreeString(literal);                // not ours: ignored
    BSTR s = SysAllocString(u"x");
    SysFreeString(s);
    SysFreeString(s);  // a second free is ignored too
}

TEST(Variant, ClearReleasesWhatItOwns) {
    CountedObject obj;
    VARIANT v = Make(VT_DISPATCH);
    obj.AddRef();
    v.pdispVal = &obj;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_EQ(obj.refs, 3);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj.refs, 1);
    EXPECT_EQ(v.vt, VT_EMPTY);

    VARIANT byref = Make(VT_BYREF | VT_DISPATCH);
    IDispatch* p = &obj;
    byref.ppdispVal = &p;
    EXPECT_EQ(VariantClear(&byref), S_OK);  // a reference owns nothing
    EXPECT_EQ(obj.refs, 1);
}

TEST(Variant, BadInputGivesErrors) {
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
    VARIANT bad = Make(0x0FFF);
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    VARIANT dst = Make(VT_EMPTY);
    EXPECT_EQ(VariantCopy(&dst, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&dst, &bad, 0, VT_I4), DISP_E_BADVARTYPE);
    VARIANT nullRef = Make(VT_BYREF | VT_I4);
    EXPECT_EQ(VariantChangeType(&dst, &nullRef, 0, VT_I4), E_INVALIDARG);
    VARIANT empty = Make(VT_VARIANT);  // VT_VARIANT only by reference
    EXPECT_EQ(VariantClear(&empty), DISP_E_BADVARTYPE);
    VARIANT foreignArray = Make(VT_ARRAY | VT_I4);
    alignas(8) unsigned char junk[64] = {};
    foreignArray.parray = reinterpret_cast<SAFEARRAY*>(junk + 16);
    EXPECT_EQ(VariantClear(&foreignArray), E_INVALIDARG);
}

TEST(ChangeType, NumbersRoundHalfToEvenAndCheckRange) {
    VARIANT r = Make(VT_R8), out = Make(VT_EMPTY);
    r.dblVal = 2.5;
    ASSERT_EQ(VariantChangeType(&out, &r, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 2);
    r.dblVal = 3.5;
    ASSERT_EQ(VariantChangeType(&out, &r, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 4);
    r.dblVal = 3e9;
    EXPECT_EQ(VariantChangeType(&out, &r, 0, VT_I4), DISP_E_OVERFLOW);
    ASSERT_EQ(VariantChangeType(&out, &r, 0, VT_UI4), S_OK);
    EXPECT_EQ(out.ulVal, 3000000000u);
    VARIANT neg = Make(VT_I4);
    neg.lVal = -1;
    EXPECT_EQ(VariantChangeType(&out, &neg, 0, VT_UI2), DISP_E_OVERFLOW);
    neg.lVal = 65535;
    ASSERT_EQ(VariantChangeType(&out, &neg, 0, VT_UI2), S_OK);
    EXPECT_EQ(out.uiVal, 65535);
    neg.lVal = 7;
    ASSERT_EQ(VariantChangeType(&out, &neg, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
}

TEST(ChangeType, TextConvertsBothWays) {
    VARIANT s = Make(VT_BSTR), out = Make(VT_EMPTY);
    s.bstrVal = SysAllocString(u" -42 ");
    ASSERT_EQ(VariantChangeType(&out, &s, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, -42);
    SysReAllocString(&s.bstrVal, u"&HFF");
    ASSERT_EQ(VariantChangeType(&out, &s, 0, VT_UI2), S_OK);
    EXPECT_EQ(out.uiVal, 255);
    for (const char16_t* bad : {u"12abc", u"&H-1", u"&H", u"", u" ", u"1 2"}) {
        SysReAllocString(&s.bstrVal, bad);
        EXPECT_EQ(VariantChangeType(&out, &s, 0, VT_I4), DISP_E_TYPEMISMATCH)
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
    }
    SysFreeString(s.bstrVal);
    s.bstrVal = SysAllocStringLen(
        u"12\0"
        "3",
        3);  // an embedded terminator is not skipped
    EXPECT_EQ(VariantChangeType(&out, &s, 0, VT_I4), DISP_E_TYPEMISMATCH);
    SysReAllocString(&s.bstrVal, u"TRUE");
    ASSERT_EQ(VariantChangeType(&out, &s, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    SysReAllocString(&s.bstrVal, u"2024-02-29");
    ASSERT_EQ(VariantChangeType(&out, &s, 0, VT_DATE), S_OK);
    EXPECT_DOUBLE_EQ(out.date, 45351.0);
    VariantClear(&s);

    VARIANT n = Make(VT_I4);
    n.lVal = -17;
    ASSERT_EQ(VariantChangeType(&out, &n, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Text(out.bstrVal), u"-17");
    VariantClear(&out);
    VARIANT b = Make(VT_BOOL);
    b.boolVal = VARIANT_TRUE;
    ASSERT_EQ(VariantChangeType(&out, &b, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
    EXPECT_EQ(Text(out.bstrVal), u"True");
    VariantClear(&out);
    VARIANT e = Make(VT_EMPTY);
    ASSERT_EQ(VariantChangeType(&out, &e, 0, VT_BSTR), S_OK);
    EXPECT_NE(out.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(out.bstrVal), 0u);
    VariantClear(&out);
}

TEST(ChangeType, ReferencesNullAndInterfaces) {
    std::int32_t value = 9;
    VARIANT ref = Make(VT_BYREF | VT_I4), out = Make(VT_EMPTY);
    ref.plVal = &value;
    ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_UI4), S_OK);
    EXPECT_EQ(out.ulVal, 9u);
    VARIANT inner = Make(VT_I2);
    inner.iVal = 3;
    VARIANT varRef = Make(VT_BYREF | VT_VARIANT);
    varRef.pvarVal = &inner;
    ASSERT_EQ(VariantChangeType(&out, &varRef, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 3);

    VARIANT null = Make(VT_NULL);
    EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_BSTR), DISP_E_TYPEMISMATCH);

    CountedObject obj;
    VARIANT d = Make(VT_DISPATCH);
    d.pdispVal = &obj;
    EXPECT_EQ(VariantChangeType(&out, &d, 0, VT_I4), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(VariantChangeType(&out, &d, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(obj.refs, 2);
    VariantClear(&out);
    EXPECT_EQ(obj.refs, 1);

    // In place: the source's text is replaced without a double free.
    VARIANT s = Make(VT_BSTR);
    s.bstrVal = SysAllocString(u"5");
    ASSERT_EQ(VariantChangeType(&s, &s, 0, VT_I4), S_OK);
    EXPECT_EQ(s.vt, VT_I4);
    EXPECT_EQ(s.lVal, 5);
}

}  // namespace

#include "carvix/automation/scoped.h"

namespace {

TEST(Scoped, OwnersReleaseWhatTheyHold) {
    CountedObject obj;
    {
        auto p = carvix::automation::ComPtr<IDispatch>::Adopt(&obj);
        obj.AddRef();
        carvix::automation::ComPtr<IDispatch> copy = p;
        EXPECT_EQ(obj.refs, 3);
        carvix::automation::ComPtr<IUnknown> unknown;
        ASSERT_EQ(p.As(unknown), S_OK);
        EXPECT_EQ(obj.refs, 4);
    }
    EXPECT_EQ(obj.refs, 1);
    carvix::automation::ScopedBstr empty{u""};
    EXPECT_EQ(empty.Get(), nullptr);  // empty text travels as a null BSTR
    carvix::automation::ScopedBstr text{u"abc"};
    EXPECT_EQ(text.Text(), u"abc");
    EXPECT_EQ(carvix::automation::BstrText(nullptr), u"");
    carvix::automation::ScopedVariant v;
    v->vt = VT_BSTR;
    v->bstrVal = text.Detach();  // freed by the variant
}

}  // namespace
