// A block object driven the way a script drives it: names through GetIDsOfNames, values
// through Invoke. Member failures come back as the HRESULT the member returned (the scode of
// DISP_E_EXCEPTION), so tests compare them with the codes the objects answer.
#pragma once

#include "carvix/automation/oleauto.h"
#include "carvix/com/model_transfer.h"
#include "carvix/com/module.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace carvix::test {

/// Owns a VARIANT's content.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v); }
};

class ScriptObject {
  public:
    /// A new object of the class, created as a script's CreateObject would get it.
    explicit ScriptObject(REFCLSID clsid) {
        void* p = nullptr;
        EXPECT_EQ(com::CreateObject(clsid, IID_IDispatch, &p), S_OK);
        dispatch_ = static_cast<IDispatch*>(p);
    }
    /// Takes over one reference.
    explicit ScriptObject(IDispatch* dispatch) : dispatch_(dispatch) {}
    ScriptObject(const ScriptObject&) = delete;
    ScriptObject& operator=(const ScriptObject&) = delete;
    ~ScriptObject() {
        if (dispatch_ != nullptr) {
            dispatch_->Release();
        }
    }

    IDispatch* Dispatch() const { return dispatch_; }

    /// The object's interface `I` (one reference, released by the caller).
    template <class I>
    I* As() const {
        void* p = nullptr;
        EXPECT_EQ(dispatch_->QueryInterface(I::kIid, &p), S_OK);
        return static_cast<I*>(p);
    }

    DISPID Id(const char16_t* name) const {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK)
            << "no member named " << ::testing::PrintToString(std::u16string(name));
        return id;
    }

    /// Reads a property; `out` receives the value on success.
    HRESULT Get(const char16_t* name, VARIANT& out) const {
        DISPPARAMS params{nullptr, nullptr, 0, 0};
        return Invoke(Id(name), DISPATCH_PROPERTYGET, params, &out);
    }
    HRESULT Put(const char16_t* name, VARIANT value) const {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &named, 1, 1};
        return Invoke(Id(name), DISPATCH_PROPERTYPUT, params, nullptr);
    }
    HRESULT Call(const char16_t* name, std::vector<VARIANT> args) const {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<std::uint32_t>(reversed.size()), 0};
        return Invoke(Id(name), DISPATCH_METHOD, params, nullptr);
    }

    // Shorthands that expect success.
    std::u16string Text(const char16_t* name) const {
        Variant out;
        EXPECT_EQ(Get(name, out.v), S_OK);
        EXPECT_EQ(out.v.vt, VT_BSTR);
        return out.v.vt == VT_BSTR && out.v.bstrVal != nullptr
                   ? std::u16string(out.v.bstrVal, SysStringLen(out.v.bstrVal))
                   : std::u16string();
    }
    std::int32_t Number(const char16_t* name) const {
        Variant out;
        EXPECT_EQ(Get(name, out.v), S_OK);
        EXPECT_EQ(out.v.vt, VT_I4);
        return out.v.lVal;
    }
    DATE Date(const char16_t* name) const {
        Variant out;
        EXPECT_EQ(Get(name, out.v), S_OK);
        EXPECT_EQ(out.v.vt, VT_DATE);
        return out.v.date;
    }
    VARIANT_BOOL Flag(const char16_t* name) const {
        Variant out;
        EXPECT_EQ(Get(name, out.v), S_OK);
        EXPECT_EQ(out.v.vt, VT_BOOL);
        return out.v.boolVal;
    }
    /// The result of reading the property, whatever its value.
    HRESULT Try(const char16_t* name) const {
        Variant out;
        return Get(name, out.v);
    }

    HRESULT PutText(const char16_t* name, const char16_t* text) const {
        VARIANT v;
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
        const HRESULT hr = Put(name, v);
        VariantClear(&v);
        return hr;
    }
    HRESULT PutNumber(const char16_t* name, std::int32_t value) const {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return Put(name, v);
    }
    HRESULT PutDate(const char16_t* name, DATE value) const {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DATE;
        v.date = value;
        return Put(name, v);
    }
    HRESULT PutFlag(const char16_t* name, VARIANT_BOOL value) const {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BOOL;
        v.boolVal = value;
        return Put(name, v);
    }

  private:
    HRESULT Invoke(DISPID id, std::uint16_t flags, DISPPARAMS& params, VARIANT* out) const {
        EXCEPINFO info{};
        const HRESULT hr = dispatch_->Invoke(id, IID_NULL, 0, flags, &params, out, &info, nullptr);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        return hr == DISP_E_EXCEPTION ? info.scode : hr;
    }

    IDispatch* dispatch_ = nullptr;
};

/// Collects the notices shown while it lives.
class NoticeCatcher {
  public:
    struct Notice {
        std::u16string caption;
        std::u16string text;
        std::uint32_t style;
    };
    NoticeCatcher();
    ~NoticeCatcher();
    NoticeCatcher(const NoticeCatcher&) = delete;
    NoticeCatcher& operator=(const NoticeCatcher&) = delete;
    static std::vector<Notice>& Seen();
};

/// The DATE of a calendar time, through the runtime's own conversion.
DATE OleDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace carvix::test
