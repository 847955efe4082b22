// VariantChangeType: the coercions between the scalar types, BOOL, DATE, BSTR and the
// interface types that automation arguments need.
#include "carvix/automation/oleauto.h"
#include "text_values.h"
#include "variant_internal.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>

namespace {

using carvix::automation::detail::EqualsAscii;
using carvix::automation::detail::Number;
using carvix::automation::detail::ParseNumber;
using carvix::automation::detail::TextToDate;

HRESULT ToNumber(const VARIANT& v, Number& n) {
    switch (v.vt) {
        case VT_EMPTY:
            n = {};
            return S_OK;
        case VT_I1:
            n.i = v.cVal;
            return S_OK;
        case VT_I2:
            n.i = v.iVal;
            return S_OK;
        case VT_I4:
            n.i = v.lVal;
            return S_OK;
        case VT_INT:
            n.i = v.intVal;
            return S_OK;
        case VT_I8:
            n.i = v.llVal;
            return S_OK;
        case VT_BOOL:
            n.i = v.boolVal != 0 ? -1 : 0;
            return S_OK;
        case VT_UI1:
            n.form = Number::Unsigned;
            n.u = v.bVal;
            return S_OK;
        case VT_UI2:
            n.form = Number::Unsigned;
            n.u = v.uiVal;
            return S_OK;
        case VT_UI4:
            n.form = Number::Unsigned;
            n.u = v.ulVal;
            return S_OK;
        case VT_UINT:
            n.form = Number::Unsigned;
            n.u = v.uintVal;
            return S_OK;
        case VT_UI8:
            n.form = Number::Unsigned;
            n.u = v.ullVal;
            return S_OK;
        case VT_R4:
            n.form = Number::Real;
            n.r = v.fltVal;
            return S_OK;
        case VT_R8:
            n.form = Number::Real;
            n.r = v.dblVal;
            return S_OK;
        case VT_DATE:
            n.form = Number::Real;
            n.r = v.date;
            return S_OK;
        case VT_CY:
            n.form = Number::Real;
            n.r = static_cast<double>(v.cyVal.int64) / 10000.0;
            return S_OK;
        case VT_BSTR:
            if (EqualsAscii(v.bstrVal, "true")) {
                n.i = -1;
                return S_OK;
            }
            if (EqualsAscii(v.bstrVal, "false")) {
                n.i = 0;
                return S_OK;
            }
            return ParseNumber(v.bstrVal, n) ? S_OK : DISP_E_TYPEMISMATCH;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Range-checked conversion to an integer type; reals round half to even.
template <typename T>
HRESULT ToInteger(const Number& n, T& out) {
    using L = std::numeric_limits<T>;
    if (n.form == Number::Real) {
        const double r = std::nearbyint(n.r);
        const double upper = std::ldexp(1.0, L::digits);  // exclusive, exactly representable
        const double lower = std::is_signed_v<T> ? -upper : 0.0;
        if (!std::isfinite(r) || r < lower || r >= upper) {
            return DISP_E_OVERFLOW;
        }
        out = static_cast<T>(r);
        return S_OK;
    }
    if (n.form == Number::Unsigned) {
        if (n.u > static_cast<std::uint64_t>(L::max())) {
            return DISP_E_OVERFLOW;
        }
        out = static_cast<T>(n.u);
        return S_OK;
    }
    if constexpr (std::is_unsigned_v<T>) {
        if (n.i < 0 || static_cast<std::uint64_t>(n.i) > L::max()) {
            return DISP_E_OVERFLOW;
        }
    } else {
        if (n.i < L::min() || n.i > L::max()) {
            return DISP_E_OVERFLOW;
        }
    }
    out = static_cast<T>(n.i);
    return S_OK;
}

double ToReal(const Number& n) {
    return n.form == Number::Real       ? n.r
           : n.form == Number::Unsigned ? static_cast<double>(n.u)
                                        : static_cast<double>(n.i);
}

BSTR AsciiBstr(const std::string& s) {
    std::u16string w(s.begin(), s.end());
    return SysAllocStringLen(w.data(), static_cast<std::uint32_t>(w.size()));
}

HRESULT ToText(const VARIANT& v, std::uint16_t flags, BSTR& out) {
    char buf[64];
    switch (v.vt) {
        case VT_EMPTY:
            out = SysAllocStringLen(u"", 0);
            return out ? S_OK : E_OUTOFMEMORY;
        case VT_BOOL:
            out = AsciiBstr((flags & VARIANT_ALPHABOOL) != 0 ? (v.boolVal ? "True" : "False")
                                                             : (v.boolVal ? "-1" : "0"));
            return out ? S_OK : E_OUTOFMEMORY;
        case VT_DATE: {
            SYSTEMTIME st;
            if (VariantTimeToSystemTime(v.date, &st) == 0) {
                return DISP_E_OVERFLOW;
            }
            std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth,
                          st.wDay, st.wHour, st.wMinute, st.wSecond);
            out = AsciiBstr(buf);
            return out ? S_OK : E_OUTOFMEMORY;
        }
        default:
            break;
    }
    Number n;
    HRESULT hr = ToNumber(v, n);
    if (FAILED(hr) || v.vt == VT_BSTR) {
        return DISP_E_TYPEMISMATCH;
    }
    if (n.form == Number::Real) {
        std::snprintf(buf, sizeof buf, "%.15G", n.r);
    } else if (n.form == Number::Unsigned) {
        std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(n.u));
    } else {
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n.i));
    }
    out = AsciiBstr(buf);
    return out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Coerce(const VARIANT& src, std::uint16_t flags, VARTYPE vt, VARIANT& out) {
    VariantInit(&out);
    out.vt = vt;
    if (vt == VT_EMPTY) {
        return S_OK;
    }
    if (src.vt == VT_NULL || vt == VT_NULL) {
        return src.vt == vt ? S_OK : DISP_E_TYPEMISMATCH;
    }
    if ((src.vt & VT_ARRAY) != 0 || (vt & VT_ARRAY) != 0) {
        if (src.vt != vt) {
            return DISP_E_TYPEMISMATCH;
        }
        return VariantCopy(&out, &src);
    }
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        if (src.vt != VT_DISPATCH && src.vt != VT_UNKNOWN) {
            return DISP_E_TYPEMISMATCH;
        }
        if (src.punkVal == nullptr) {
            return S_OK;
        }
        void* p = nullptr;
        HRESULT hr =
            src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
        if (FAILED(hr)) {
            return vt == VT_DISPATCH ? DISP_E_TYPEMISMATCH : hr;
        }
        out.punkVal = static_cast<IUnknown*>(p);
        return S_OK;
    }
    if (vt == VT_BSTR) {
        return ToText(src, flags, out.bstrVal);
    }
    if (vt == VT_DATE && src.vt == VT_BSTR) {
        return TextToDate(src.bstrVal, out.date);
    }
    Number n;
    HRESULT hr = ToNumber(src, n);
    if (FAILED(hr)) {
        return hr;
    }
    switch (vt) {
        case VT_I1:
            return ToInteger(n, out.cVal);
        case VT_I2:
            return ToInteger(n, out.iVal);
        case VT_I4:
            return ToInteger(n, out.lVal);
        case VT_INT:
            return ToInteger(n, out.intVal);
        case VT_I8:
            return ToInteger(n, out.llVal);
        case VT_UI1:
            return ToInteger(n, out.bVal);
        case VT_UI2:
            return ToInteger(n, out.uiVal);
        case VT_UI4:
            return ToInteger(n, out.ulVal);
        case VT_UINT:
            return ToInteger(n, out.uintVal);
        case VT_UI8:
            return ToInteger(n, out.ullVal);
        case VT_BOOL:
            out.boolVal = ToReal(n) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        case VT_R8:
            out.dblVal = ToReal(n);
            return S_OK;
        case VT_R4: {
            const double r = ToReal(n);
            if (std::isfinite(r) && std::fabs(r) > std::numeric_limits<float>::max()) {
                return DISP_E_OVERFLOW;
            }
            out.fltVal = static_cast<float>(r);
            return S_OK;
        }
        case VT_DATE: {
            const double r = ToReal(n);
            if (!(r >= -657434.0 && r < 2958466.0)) {
                return DISP_E_OVERFLOW;
            }
            out.date = r;
            return S_OK;
        }
        case VT_CY: {
            const double r = ToReal(n) * 10000.0;
            if (!(std::fabs(r) < 9.2e18)) {
                return DISP_E_OVERFLOW;
            }
            out.cyVal.int64 = std::llround(r);
            return S_OK;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

extern "C" {

HRESULT VariantChangeTypeEx(VARIANT* pvargDest, const VARIANT* pvarSrc, LCID, std::uint16_t wFlags,
                            VARTYPE vt) {
    if (pvargDest == nullptr || pvarSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (!carvix::automation::detail::IsValidVariantType(vt) || (vt & VT_BYREF) != 0 ||
        vt == VT_VARIANT) {
        return DISP_E_BADVARTYPE;
    }
    VARIANT view;
    HRESULT hr = carvix::automation::detail::Dereference(*pvarSrc, view);
    if (FAILED(hr)) {
        return hr;
    }
    VARIANT result;
    if (view.vt == vt) {
        VariantInit(&result);
        hr = VariantCopy(&result, &view);
    } else {
        hr = Coerce(view, wFlags, vt, result);
    }
    if (FAILED(hr)) {
        if (result.vt == VT_BSTR || result.vt == VT_DISPATCH || result.vt == VT_UNKNOWN ||
            (result.vt & VT_ARRAY) != 0) {
            result.vt = VT_EMPTY;  // nothing was allocated on a failed path
        }
        return hr;
    }
    return carvix::automation::detail::MoveInto(pvargDest, result);
}

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, std::uint16_t wFlags,
                          VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

}  // extern "C"
