#include "carvix/automation/oleauto.h"
#include "tracked.h"
#include "variant_internal.h"

#include <cstring>

namespace carvix::automation::detail {

bool IsValidVariantType(VARTYPE vt) noexcept {
    if ((vt & ~(VT_ARRAY | VT_BYREF | VT_TYPEMASK)) != 0) {
        return false;
    }
    const VARTYPE base = vt & VT_TYPEMASK;
    const bool byref = (vt & VT_BYREF) != 0;
    const bool array = (vt & VT_ARRAY) != 0;
    switch (base) {
        case VT_EMPTY:
        case VT_NULL:
            return !byref && !array;
        case VT_VARIANT:
            return byref || array;
        case VT_DECIMAL:
        case VT_RECORD:
            return byref && !array;
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_UNKNOWN:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

HRESULT MoveInto(VARIANT* dest, VARIANT& value) noexcept {
    const HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&value);
        return hr;
    }
    *dest = value;
    return S_OK;
}

std::uint32_t ValueSize(VARTYPE vt) noexcept {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_DATE:
        case VT_CY:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return 8;
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return 0;
    }
}

HRESULT Dereference(const VARIANT& src, VARIANT& out) noexcept {
    if (!IsValidVariantType(src.vt)) {
        return DISP_E_BADVARTYPE;
    }
    if ((src.vt & VT_BYREF) == 0) {
        out = src;
        return S_OK;
    }
    if (src.byref == nullptr) {
        return E_INVALIDARG;
    }
    const VARTYPE vt = src.vt & ~VT_BYREF;
    VariantInit(&out);
    if (vt == VT_VARIANT) {
        const VARIANT& inner = *src.pvarVal;
        if (!IsValidVariantType(inner.vt) || (inner.vt & VT_BYREF) != 0) {
            return DISP_E_BADVARTYPE;
        }
        out = inner;
        return S_OK;
    }
    if ((vt & VT_ARRAY) != 0) {
        out.vt = vt;
        out.parray = *src.pparray;
        return S_OK;
    }
    const std::size_t size = ValueSize(vt);
    if (size == 0) {
        return DISP_E_BADVARTYPE;  // VT_DECIMAL, VT_RECORD by reference
    }
    out.vt = vt;
    std::memcpy(&out.llVal, src.byref, size);
    return S_OK;
}

}  // namespace carvix::automation::detail

using carvix::automation::detail::IsValidVariantType;

extern "C" {

void VariantInit(VARIANT* pvarg) {
    if (pvarg != nullptr) {
        std::memset(pvarg, 0, sizeof *pvarg);
    }
}

HRESULT VariantClear(VARIANT* pvarg) {
    if (pvarg == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsValidVariantType(pvarg->vt)) {
        return DISP_E_BADVARTYPE;
    }
    if ((pvarg->vt & VT_BYREF) == 0) {
        if ((pvarg->vt & VT_ARRAY) != 0) {
            if (pvarg->parray != nullptr) {
                HRESULT hr = SafeArrayDestroy(pvarg->parray);
                if (FAILED(hr)) {
                    return hr;
                }
            }
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if ((pvarg->vt == VT_DISPATCH || pvarg->vt == VT_UNKNOWN) &&
                   pvarg->punkVal != nullptr) {
            pvarg->punkVal->Release();
        }
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
    if (pvargDest == nullptr || pvargSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsValidVariantType(pvargSrc->vt)) {
        return DISP_E_BADVARTYPE;
    }
    if (pvargDest == pvargSrc) {
        return S_OK;
    }
    VARIANT copy = *pvargSrc;
    copy.wReserved1 = copy.wReserved2 = copy.wReserved3 = 0;
    if ((copy.vt & VT_BYREF) == 0) {
        if ((copy.vt & VT_ARRAY) != 0) {
            if (copy.parray != nullptr) {
                HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
                if (FAILED(hr)) {
                    return hr;
                }
            }
        } else if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
            copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
            if (copy.bstrVal == nullptr) {
                return E_OUTOFMEMORY;
            }
        } else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal != nullptr) {
            copy.punkVal->AddRef();
        }
    }
    return carvix::automation::detail::MoveInto(pvargDest, copy);
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc) {
    if (pvarDest == nullptr || pvargSrc == nullptr) {
        return E_INVALIDARG;
    }
    VARIANT view;
    HRESULT hr = carvix::automation::detail::Dereference(*pvargSrc, view);
    if (FAILED(hr)) {
        return hr;
    }
    VARIANT copy;
    VariantInit(&copy);
    hr = VariantCopy(&copy, &view);
    if (FAILED(hr)) {
        return hr;
    }
    return carvix::automation::detail::MoveInto(pvarDest, copy);
}

}  // extern "C"
