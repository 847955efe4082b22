// IDispatch served from a static description: lookup, argument order and coercion, property
// puts, failures, and the type information object.
#include "carvix/automation/oleauto.h"
#include "carvix/automation/typeinfo.h"
#include "counted.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace ca = carvix::automation;

inline constexpr IID kIidCalc = {0x1A2B3C4D, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};

struct ICalc : IDispatch {
    static constexpr const IID& kIid = kIidCalc;
    static constexpr const char16_t* kName = u"ICalc";
    virtual HRESULT Subtract(std::int32_t a, std::int32_t b, std::int32_t* out) = 0;
    virtual HRESULT Concat(BSTR a, BSTR b, BSTR* out) = 0;
    virtual HRESULT get_Flag(VARIANT_BOOL* out) = 0;
    virtual HRESULT put_Flag(VARIANT_BOOL v) = 0;
    virtual HRESULT Fail() = 0;
    virtual HRESULT Refs(IDispatch* p, std::int32_t* out) = 0;
    virtual HRESULT Load(VARIANT* model) = 0;
    virtual HRESULT Echo(VARIANT* in, VARIANT* out) = 0;
    virtual HRESULT Small(std::uint16_t v) = 0;
    virtual HRESULT get_Self(ICalc** out) = 0;
    virtual HRESULT get_When(DATE* out) = 0;
    virtual HRESULT put_When(DATE v) = 0;
};

const ca::MemberDesc kCalcMembers[] = {
    ca::Method<&ICalc::Subtract>(1, u"Subtract", {u"a", u"b", u"result"}, u"a - b"),
    ca::Method<&ICalc::Concat>(2, u"Concat", {u"first", u"second", u"joined"}, u"joins"),
    ca::PropGet<&ICalc::get_Flag>(3, u"Flag", u"property Flag"),
    ca::PropPut<&ICalc::put_Flag>(3, u"Flag", u"property Flag"),
    ca::Method<&ICalc::Fail>(4, u"Fail", u"always fails"),
    ca::Method<&ICalc::Refs>(5, u"Refs", {u"pObject", u"count"}, u"reference count"),
    ca::Method<&ICalc::Load>(6, u"Load", {u"pData"}, u"in process only").InProcessOnly(),
    ca::Method<&ICalc::Echo>(7, u"Echo", {u"value", {u"copy", ca::kParamOut | ca::kParamRetval}},
                             u"copies"),
    ca::Method<&ICalc::Small>(8, u"Small", {u"uwValue"}, u"takes 16 bits"),
    ca::PropGet<&ICalc::get_Self>(9, u"Self", u"property Self"),
    ca::PropGet<&ICalc::get_When>(10, u"When", u"property When"),
    ca::PropPut<&ICalc::put_When>(10, u"When", u"property When"),
};
const ca::InterfaceDesc kCalcDesc{u"ICalc", kIidCalc, u"ICalc Interface", kCalcMembers};

struct Calc final : ICalc {
    VARIANT_BOOL flag = VARIANT_FALSE;
    std::uint16_t small = 0;
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        *ppv = (riid == IID_IUnknown || riid == IID_IDispatch || riid == kIidCalc) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }
    HRESULT GetTypeInfoCount(std::uint32_t* n) override {
        *n = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t i, LCID, ITypeInfo** out) override {
        return ca::DispatchGetTypeInfo(kCalcDesc, i, out);
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, std::uint32_t n, LCID,
                          DISPID* ids) override {
        return ca::DispatchGetIDsOfNames(kCalcDesc, riid, names, n, ids);
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, std::uint16_t flags, DISPPARAMS* p, VARIANT* r,
                   EXCEPINFO* e, std::uint32_t* a) override {
        return ca::DispatchInvoke(kCalcDesc, static_cast<ICalc*>(this), id, riid, flags, p, r, e,
                                  a);
    }
    HRESULT Subtract(std::int32_t a, std::int32_t b, std::int32_t* out) override {
        *out = a - b;
        return S_OK;
    }
    HRESULT Concat(BSTR a, BSTR b, BSTR* out) override {
        std::u16string s(a, SysStringLen(a));
        s.append(b, SysStringLen(b));
        *out = SysAllocStringLen(s.data(), static_cast<std::uint32_t>(s.size()));
        return S_OK;
    }
    HRESULT get_Flag(VARIANT_BOOL* out) override {
        *out = flag;
        return S_OK;
    }
    HRESULT put_Flag(VARIANT_BOOL v) override {
        flag = v;
        return S_OK;
    }
    HRESULT Fail() override { return E_ACCESSDENIED; }
    HRESULT Refs(IDispatch* p, std::int32_t* out) override {
        if (p == nullptr) {
            return E_INVALIDARG;
        }
        *out = static_cast<std::int32_t>(p->AddRef()) - 1;
        p->Release();
        return S_OK;
    }
    HRESULT Load(VARIANT*) override {
        ADD_FAILURE() << "a script value reached an in-process-only member";
        return S_OK;
    }
    HRESULT Echo(VARIANT* in, VARIANT* out) override { return VariantCopy(out, in); }
    HRESULT Small(std::uint16_t v) override {
        small = v;
        return S_OK;
    }
    HRESULT get_Self(ICalc** out) override {
        *out = this;
        return S_OK;
    }
    HRESULT get_When(DATE* out) override {
        *out = when;
        return S_OK;
    }
    HRESULT put_When(DATE v) override {
        when = v;
        return S_OK;
    }
    DATE when = 0;
};

VARIANT I4(std::int32_t v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

VARIANT Str(const char16_t* s) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(s);
    return x;
}

class DispatchTest : public ::testing::Test {
  protected:
    HRESULT Call(DISPID id, std::uint16_t flags, std::vector<VARIANT> argsLastFirst,
                 VARIANT* result = nullptr, std::uint32_t* argErr = nullptr,
                 EXCEPINFO* excep = nullptr, bool put = false) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS p{argsLastFirst.data(), put ? &named : nullptr,
                     static_cast<std::uint32_t>(argsLastFirst.size()), put ? 1u : 0u};
        HRESULT hr = calc.Invoke(id, IID_NULL, 0, flags, &p, result, excep, argErr);
        for (VARIANT& v : argsLastFirst) {
            VariantClear(&v);
        }
        return hr;
    }
    Calc calc;
    VARIANT result{};
};

TEST_F(DispatchTest, NamesAreFoundWithoutRegardToCase) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"sUbTrAcT"), const_cast<LPOLESTR>(u"B"),
                        const_cast<LPOLESTR>(u"nope")};
    DISPID ids[3];
    EXPECT_EQ(calc.GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 1);  // position of parameter b
    EXPECT_EQ(calc.GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);
    LPOLESTR missing[] = {const_cast<LPOLESTR>(u"Subtrac")};
    EXPECT_EQ(calc.GetIDsOfNames(IID_NULL, missing, 1, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(calc.GetIDsOfNames(kIidCalc, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(calc.GetIDsOfNames(IID_NULL, nullptr, 1, 0, ids), E_INVALIDARG);
}

TEST_F(DispatchTest, ArgumentsArriveLastFirstAndAreCoerced) {
    // Subtract(10, "3"): rgvarg holds b first.
    ASSERT_EQ(Call(1, DISPATCH_METHOD, {Str(u"3"), I4(10)}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 7);
    ASSERT_EQ(Call(2, DISPATCH_METHOD, {Str(u"def"), I4(12)}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(result.bstrVal), u"12def");
    VariantClear(&result);
    // A by-reference argument is read through.
    std::int32_t b = 4;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = &b;
    ASSERT_EQ(Call(1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {ref, I4(1)}, &result), S_OK);
    EXPECT_EQ(result.lVal, -3);
    // No result wanted: the retval is freed, nothing leaks.
    EXPECT_EQ(Call(2, DISPATCH_METHOD, {Str(u"x"), Str(u"y")}), S_OK);
}

TEST_F(DispatchTest, BadCallsGiveDispatchErrors) {
    std::uint32_t argErr = 99;
    EXPECT_EQ(Call(1, DISPATCH_METHOD, {I4(1)}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(1, DISPATCH_METHOD, {I4(1), I4(2), I4(3)}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(1, DISPATCH_METHOD, {I4(1), Str(u"ten")}, &result, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);  // index in rgvarg of the first argument
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x7777;
    EXPECT_EQ(Call(1, DISPATCH_METHOD, {I4(1), bad}, &result, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Call(8, DISPATCH_METHOD, {I4(70000)}, &result, &argErr), DISP_E_OVERFLOW);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(Call(99, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {I4(1)}, &result, nullptr, nullptr, true),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(1, 0, {I4(1), I4(2)}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(1, DISPATCH_PROPERTYGET, {I4(1), I4(2)}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(3, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);  // a property
    DISPPARAMS broken{nullptr, nullptr, 2, 0};
    EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &broken, &result, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(calc.Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(calc.Invoke(1, kIidCalc, 0, DISPATCH_METHOD, &broken, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTest, PropertiesNeedTheNamedPutArgument) {
    EXPECT_EQ(Call(3, DISPATCH_PROPERTYPUT, {I4(5)}, nullptr, nullptr, nullptr, true), S_OK);
    EXPECT_EQ(calc.flag, VARIANT_TRUE);  // any non-zero value is true
    ASSERT_EQ(Call(3, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
    EXPECT_EQ(Call(3, DISPATCH_PROPERTYPUT, {I4(0)}), DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(calc.flag, VARIANT_TRUE);
    EXPECT_EQ(Call(1, DISPATCH_METHOD, {I4(1), I4(2)}, &result, nullptr, nullptr, true),
              DISP_E_NONAMEDARGS);
}

TEST_F(DispatchTest, MemberFailuresAndSpecialParameters) {
    EXCEPINFO ex{};
    EXPECT_EQ(Call(4, DISPATCH_METHOD, {}, &result, nullptr, &ex), DISP_E_EXCEPTION);
    EXPECT_EQ(ex.scode, E_ACCESSDENIED);
    EXPECT_EQ(std::u16string(ex.bstrSource), u"ICalc");
    SysFreeString(ex.bstrSource);
    EXPECT_EQ(Call(4, DISPATCH_METHOD, {}), DISP_E_EXCEPTION);

    CountedObject obj;
    VARIANT d;
    VariantInit(&d);
    d.vt = VT_DISPATCH;
    d.pdispVal = &obj;
    obj.AddRef();  // owned by the argument, released after the call
    ASSERT_EQ(Call(5, DISPATCH_METHOD, {d}, &result), S_OK);
    EXPECT_EQ(result.lVal, 3);  // ours, the argument's, the engine's typed reference
    EXPECT_EQ(obj.refs, 1);
    VARIANT nothing;
    VariantInit(&nothing);
    ex = EXCEPINFO{};
    EXPECT_EQ(Call(5, DISPATCH_METHOD, {nothing}, &result, nullptr, &ex), DISP_E_EXCEPTION);
    EXPECT_EQ(ex.scode, E_INVALIDARG);
    SysFreeString(ex.bstrSource);
    EXPECT_EQ(Call(5, DISPATCH_METHOD, {I4(3)}, &result), DISP_E_TYPEMISMATCH);

    EXPECT_EQ(Call(6, DISPATCH_METHOD, {I4(1)}), E_INVALIDARG);  // never reaches Load
    ASSERT_EQ(Call(7, DISPATCH_METHOD, {Str(u"same")}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(result.bstrVal), u"same");
    VariantClear(&result);
}

TEST_F(DispatchTest, InterfaceAndDateProperties) {
    ASSERT_EQ(Call(9, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_DISPATCH);
    EXPECT_EQ(result.pdispVal, static_cast<IDispatch*>(&calc));
    VARIANT text = Str(u"2001-02-03 04:05:06");
    EXPECT_EQ(Call(10, DISPATCH_PROPERTYPUT, {text}, nullptr, nullptr, nullptr, true), S_OK);
    ASSERT_EQ(Call(10, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_DATE);
    SYSTEMTIME st{};
    ASSERT_EQ(VariantTimeToSystemTime(result.date, &st), 1);
    EXPECT_EQ(st.wYear, 2001);
    EXPECT_EQ(st.wSecond, 6);
    VARIANT far;
    VariantInit(&far);
    far.vt = VT_R8;
    far.dblVal = 1e7;  // beyond 9999-12-31
    EXPECT_EQ(Call(10, DISPATCH_PROPERTYPUT, {far}, nullptr, nullptr, nullptr, true),
              DISP_E_OVERFLOW);
}

TEST_F(DispatchTest, TypeInfoServesTheSameDescription) {
    ITypeInfo* ti = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(calc.GetTypeInfo(1, 0, &ti), DISP_E_BADINDEX);
    EXPECT_EQ(ti, nullptr);
    EXPECT_EQ(calc.GetTypeInfo(0, 0, nullptr), E_POINTER);
    ASSERT_EQ(calc.GetTypeInfo(0, 0, &ti), S_OK);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(ti->GetDocumentation(2, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), u"Concat");
    EXPECT_EQ(std::u16string(doc), u"joins");
    SysFreeString(name);
    SysFreeString(doc);
    BSTR names[4];
    std::uint32_t count = 0;
    ASSERT_EQ(ti->GetNames(1, names, 4, &count), S_OK);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(std::u16string(names[3]), u"result");
    for (BSTR& n : names) {
        SysFreeString(n);
    }
    VARIANT args[2] = {I4(2), I4(9)};
    DISPPARAMS p{args, nullptr, 2, 0};
    ASSERT_EQ(
        ti->Invoke(static_cast<ICalc*>(&calc), 1, DISPATCH_METHOD, &p, &result, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(result.lVal, 7);
    ti->Release();
}

TEST_F(DispatchTest, ClientsGetTheDescriptionBehindTheTypeInfo) {
    ITypeInfo* ti = nullptr;
    ASSERT_EQ(calc.GetTypeInfo(0, 0, &ti), S_OK);
    BSTR json = nullptr;
    ASSERT_EQ(ca::DescribeTypeInfoJson(ti, &json), S_OK);
    const std::string expected = ca::DescribeInterfaceJson(kCalcDesc);
    EXPECT_EQ(std::u16string(json, SysStringLen(json)),
              std::u16string(expected.begin(), expected.end()));
    SysFreeString(json);
    ti->Release();

    // Only type information the runtime handed out is described.
    json = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(ca::DescribeTypeInfoJson(reinterpret_cast<ITypeInfo*>(&calc), &json), E_INVALIDARG);
    EXPECT_EQ(json, nullptr);
    EXPECT_EQ(ca::DescribeTypeInfoJson(nullptr, &json), E_INVALIDARG);
}

TEST(Dump, DescribesEveryMember) {
    const std::string json = ca::DescribeInterfaceJson(kCalcDesc);
    EXPECT_EQ(
        json.rfind("{\"name\":\"ICalc\",\"iid\":\"{1A2B3C4D-0001-0002-0102-030405060708}\"", 0),
        0u);
    EXPECT_NE(json.find("{\"name\":\"joined\",\"type\":\"BSTR*\",\"vt\":8,\"in\":false,"
                        "\"out\":true,\"retval\":true}"),
              std::string::npos);
    EXPECT_NE(json.find("\"type\":\"IDispatch*\""), std::string::npos);
    EXPECT_NE(json.find("\"kind\":\"propput\",\"name\":\"Flag\""), std::string::npos);
    EXPECT_NE(json.find("\"inProcessOnly\":true"), std::string::npos);
    EXPECT_EQ(ca::JsonString(u"a\"\\\r\u00e9"), "\"a\\\"\\\\\\u000D\\u00E9\"");
}

}  // namespace
