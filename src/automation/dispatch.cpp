// IDispatch served from an InterfaceDesc: name lookup and Invoke.
#include "carvix/automation/oleauto.h"
#include "carvix/automation/typeinfo.h"

#include <new>

namespace carvix::automation {
namespace {

char16_t Fold(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

bool SameName(const char16_t* a, const OLECHAR* b) {
    if (a == nullptr || b == nullptr) {
        return false;
    }
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (Fold(*a) != Fold(*b)) {
            return false;
        }
    }
    return *a == 0 && *b == 0;
}

const MemberDesc* Find(const InterfaceDesc& desc, DISPID id, MemberKind kind) {
    for (const MemberDesc& m : desc.members) {
        if (m.id == id && m.kind == kind) {
            return &m;
        }
    }
    return nullptr;
}

// The member that the Invoke flags name: a put for DISPATCH_PROPERTYPUT(REF), otherwise a
// method for DISPATCH_METHOD and a getter for DISPATCH_PROPERTYGET (scripts often pass both).
const MemberDesc* Select(const InterfaceDesc& desc, DISPID id, std::uint16_t flags) {
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
        return Find(desc, id, MemberKind::PropertyPut);
    }
    const MemberDesc* m = nullptr;
    if ((flags & DISPATCH_METHOD) != 0) {
        m = Find(desc, id, MemberKind::Method);
    }
    if (m == nullptr && (flags & DISPATCH_PROPERTYGET) != 0) {
        m = Find(desc, id, MemberKind::PropertyGet);
    }
    return m;
}

// Prepares one argument for the thunk. `slot` receives the value the member sees.
HRESULT PrepareIn(const ParamDesc& p, VARIANT& arg, VARIANT& slot) {
    if (p.vt == VT_VARIANT) {
        slot.vt = VT_BYREF | VT_VARIANT;
        slot.pvarVal = arg.vt == (VT_BYREF | VT_VARIANT) ? arg.pvarVal : &arg;
        return slot.pvarVal != nullptr ? S_OK : DISP_E_TYPEMISMATCH;
    }
    if (p.iid != nullptr && (arg.vt == VT_EMPTY || arg.vt == VT_NULL)) {
        slot.vt = p.vt;  // "Nothing": the member sees a null interface pointer
        slot.punkVal = nullptr;
        return S_OK;
    }
    HRESULT hr = VariantChangeType(&slot, &arg, 0, p.vt);
    if (FAILED(hr)) {
        return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
    }
    if (p.iid != nullptr && slot.punkVal != nullptr) {
        void* typed = nullptr;
        hr = slot.punkVal->QueryInterface(*p.iid, &typed);
        slot.punkVal->Release();
        slot.punkVal = static_cast<IUnknown*>(typed);  // every interface starts with IUnknown
        if (FAILED(hr) || typed == nullptr) {
            slot.vt = VT_EMPTY;
            return DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

HRESULT PrepareOut(const ParamDesc& p, VARIANT& arg, VARIANT& slot) {
    const VARTYPE want = VT_BYREF | p.vt;
    if (arg.vt != want || arg.byref == nullptr) {
        return DISP_E_TYPEMISMATCH;
    }
    slot.vt = want;
    slot.byref = arg.byref;
    return S_OK;
}

struct Slots {
    VARIANT v[kMaxParams];
    VARIANT result;  // storage of the retval
    int count = 0;
    Slots() {
        for (VARIANT& x : v) {
            VariantInit(&x);
        }
        VariantInit(&result);
    }
    ~Slots() {
        for (int i = 0; i < count; ++i) {
            if ((v[i].vt & VT_BYREF) == 0) {
                VariantClear(&v[i]);
            }
        }
        VariantClear(&result);
    }
};

HRESULT CallMember(const MemberDesc& m, void* self, VARIANT* args) {
    try {
        return m.thunk(self, args);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;  // nothing may escape into the caller's frame
    }
}

// The description of the thread's error object (null when there is none or it has no text);
// the object is taken, so that it describes this one failure only.
BSTR TakeDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) {
        return nullptr;
    }
    BSTR description = nullptr;
    if (FAILED(info->GetDescription(&description))) {
        description = nullptr;
    }
    info->Release();
    return description;
}

}  // namespace

HRESULT DispatchGetIDsOfNames(const InterfaceDesc& desc, REFIID riid, LPOLESTR* names,
                              std::uint32_t count, DISPID* ids) {
    if (!(riid == IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    if (names == nullptr || ids == nullptr || count == 0) {
        return E_INVALIDARG;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
    }
    const MemberDesc* member = nullptr;
    for (const MemberDesc& m : desc.members) {
        if (SameName(m.name, names[0])) {
            member = &m;
            break;
        }
    }
    if (member == nullptr) {
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = member->id;
    HRESULT hr = S_OK;
    for (std::uint32_t i = 1; i < count; ++i) {
        for (std::uint8_t k = 0; k < member->paramCount; ++k) {
            if (SameName(member->params[k].name, names[i])) {
                ids[i] = k;
            }
        }
        if (ids[i] == DISPID_UNKNOWN) {
            hr = DISP_E_UNKNOWNNAME;
        }
    }
    return hr;
}

HRESULT DispatchInvoke(const InterfaceDesc& desc, void* self, DISPID id, REFIID riid,
                       std::uint16_t flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excepInfo, std::uint32_t* argErr) {
    if (!(riid == IID_NULL)) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    if (self == nullptr || params == nullptr || (params->cArgs > 0 && params->rgvarg == nullptr) ||
        params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
    }
    const MemberDesc* m = Select(desc, id, flags);
    if (m == nullptr) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (m->kind == MemberKind::PropertyPut) {
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
            return params->cNamedArgs == 0 ? DISP_E_PARAMNOTFOUND : DISP_E_NONAMEDARGS;
        }
    } else if (params->cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }
    const int retval = m->RetvalIndex();
    const std::uint32_t expected = m->paramCount - (retval >= 0 ? 1u : 0u);
    if (params->cArgs != expected) {
        return DISP_E_BADPARAMCOUNT;
    }
    if ((m->flags & kMemberInProcessOnly) != 0) {
        return E_INVALIDARG;  // a script cannot pass what this member reads
    }
    Slots slots;
    std::uint32_t next = params->cArgs;  // arguments come last-first
    for (std::uint8_t i = 0; i < m->paramCount; ++i) {
        const ParamDesc& p = m->params[i];
        slots.count = i + 1;
        if (i == retval) {
            slots.result.vt = p.vt == VT_VARIANT ? VARTYPE{VT_EMPTY} : p.vt;
            slots.v[i].vt = VT_BYREF | p.vt;
            slots.v[i].byref = p.vt == VT_VARIANT ? static_cast<void*>(&slots.result)
                                                  : static_cast<void*>(&slots.result.llVal);
            continue;
        }
        VARIANT& arg = params->rgvarg[--next];
        HRESULT hr = (p.flags & kParamOut) != 0 ? PrepareOut(p, arg, slots.v[i])
                                                : PrepareIn(p, arg, slots.v[i]);
        if (FAILED(hr)) {
            if (argErr != nullptr) {
                *argErr = next;
            }
            return hr;
        }
    }
    // Only what this member records may describe its failure, never an older call's text.
    SetErrorInfo(0, nullptr);
    HRESULT hr = CallMember(*m, self, slots.v);
    if (FAILED(hr)) {
        if (excepInfo != nullptr) {
            *excepInfo = EXCEPINFO{};
            excepInfo->scode = hr;
            excepInfo->bstrSource = SysAllocString(desc.name);
            excepInfo->bstrDescription = TakeDescription();
        }
        return DISP_E_EXCEPTION;
    }
    if (retval >= 0 && result != nullptr) {
        VariantInit(result);
        *result = slots.result;
        VariantInit(&slots.result);
    }
    return hr;
}

}  // namespace carvix::automation
