// Invoke and GetIDsOfNames on CARVIX.Utilities with arbitrary DISPIDs, flags, named
// arguments and VARIANTs (including references, arrays and foreign pointers), and the same
// VARIANTs through VariantChangeType and VariantCopyInd.
#include "carvix/automation/oleauto.h"
#include "utilities/utilities_service.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    template <typename T>
    T Take() {
        T value{};
        const std::size_t n = size < sizeof value ? size : sizeof value;
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

// Storage that by-reference arguments point into; never freed by the callee.
struct Scratch {
    VARIANT inner[4];
    std::uint8_t bytes[4][16];
    BSTR bstr[4];
    IDispatch* disp[4];
    SAFEARRAY* arrays[4];
};

void Fill(Input& in, VARIANT& v, IDispatch* self, Scratch& s, int k, std::vector<BSTR>& owned,
          std::vector<SAFEARRAY*>& ownedArrays) {
    VariantInit(&v);
    const auto vt = in.Take<std::uint16_t>();
    const auto payload = in.Take<std::uint64_t>();
    v.vt = vt;
    std::memcpy(&v.llVal, &payload, sizeof payload);
    const VARTYPE base = vt & VT_TYPEMASK;
    if ((vt & VT_BYREF) != 0) {
        VariantInit(&s.inner[k]);
        if ((vt & VT_ARRAY) != 0) {
            s.arrays[k] = nullptr;
            v.pparray = &s.arrays[k];
        } else if (base == VT_VARIANT) {
            s.inner[k].vt = static_cast<VARTYPE>(payload & 0x3F);  // shallow, no pointers
            if (s.inner[k].vt == VT_BSTR || s.inner[k].vt == VT_DISPATCH ||
                s.inner[k].vt == VT_UNKNOWN) {
                s.inner[k].vt = VT_I4;
            }
            v.pvarVal = &s.inner[k];
        } else if (base == VT_BSTR) {
            s.bstr[k] = SysAllocString(u"12");
            owned.push_back(s.bstr[k]);
            v.pbstrVal = &s.bstr[k];
        } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
            s.disp[k] = (payload & 1) != 0 ? self : nullptr;
            v.ppdispVal = &s.disp[k];
        } else {
            std::memcpy(s.bytes[k], &payload, sizeof payload);
            v.byref = s.bytes[k];
        }
        return;
    }
    if ((vt & VT_ARRAY) != 0) {
        if ((payload & 3) == 0) {
            v.parray = nullptr;
        } else if ((payload & 3) == 1) {
            v.parray = reinterpret_cast<SAFEARRAY*>(s.bytes[k]);  // foreign
        } else {
            SAFEARRAY* psa =
                SafeArrayCreateVector(base, 0, static_cast<std::uint32_t>(payload >> 8) & 7);
            ownedArrays.push_back(psa);
            v.parray = psa;
        }
        return;
    }
    if (base == VT_BSTR) {
        const std::size_t n = in.Take<std::uint8_t>() % 12;
        std::u16string text;
        for (std::size_t i = 0; i < n; ++i) {
            text += static_cast<char16_t>(in.Take<std::uint8_t>());
        }
        v.bstrVal = (payload & 1) != 0
                        ? SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()))
                        : nullptr;
        owned.push_back(v.bstrVal);
    } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
        v.pdispVal = (payload & 1) != 0 ? self : nullptr;
    } else if (base == VT_RECORD) {
        v.vt = VT_I4;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    void* p = nullptr;
    if (FAILED(carvix::com::Create<carvix::com::UtilitiesService>(nullptr, IID_IDispatch, &p))) {
        return 0;
    }
    auto* disp = static_cast<IDispatch*>(p);
    const auto id = in.Take<std::int32_t>() % 4;
    const auto flags = in.Take<std::uint16_t>();
    const std::uint32_t cArgs = in.Take<std::uint8_t>() % 4u;
    const auto cNamed = in.Take<std::uint8_t>() % 2;
    DISPID named = in.Take<std::uint8_t>() % 2 ? DISPID_PROPERTYPUT : in.Take<std::int32_t>();
    VARIANT args[4];
    Scratch scratch{};
    std::vector<BSTR> owned;
    std::vector<SAFEARRAY*> arrays;
    for (int k = 0; k < static_cast<int>(cArgs); ++k) {
        Fill(in, args[k], disp, scratch, k, owned, arrays);
    }
    DISPPARAMS params{cArgs ? args : nullptr, cNamed ? &named : nullptr, cArgs,
                      static_cast<std::uint32_t>(cNamed)};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    std::uint32_t argErr = 0;
    disp->Invoke(id, IID_NULL, 0, flags, &params, (flags & 0x100) ? nullptr : &result,
                 (flags & 0x200) ? nullptr : &excep, &argErr);
    VariantClear(&result);
    SysFreeString(excep.bstrSource);

    // Each argument once more through the coercions and copies directly.
    for (std::uint32_t k = 0; k < cArgs; ++k) {
        VARIANT converted;
        VariantInit(&converted);
        VariantChangeType(&converted, &args[k], flags & 0x3, in.Take<std::uint16_t>() & 0x60FF);
        VariantClear(&converted);
        VARIANT copy;
        VariantInit(&copy);
        VariantCopyInd(&copy, &args[k]);
        VariantClear(&copy);
    }

    // The same bytes as a name lookup.
    std::u16string name;
    while (in.size > 0 && name.size() < 32) {
        name += static_cast<char16_t>(in.Take<std::uint8_t>());
    }
    LPOLESTR names[] = {name.data(), name.data()};
    DISPID ids[2];
    disp->GetIDsOfNames(IID_NULL, names, 2, 0, ids);

    for (BSTR b : owned) {
        SysFreeString(b);
    }
    for (SAFEARRAY* a : arrays) {
        SafeArrayDestroy(a);
    }
    disp->Release();
    return 0;
}
