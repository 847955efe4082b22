// The ITypeInfo object handed out for an InterfaceDesc.
#include "carvix/automation/oleauto.h"
#include "carvix/automation/typeinfo.h"

#include <map>
#include <mutex>

namespace carvix::automation {
namespace {

constexpr MEMBERID kMemberIdNil = -1;

class StaticTypeInfo final : public ITypeInfo {
  public:
    explicit StaticTypeInfo(const InterfaceDesc& desc) : desc_(desc) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
            *ppv = static_cast<ITypeInfo*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Lives for the whole process: the counts are only nominal.
    std::uint32_t AddRef() override { return 2; }
    std::uint32_t Release() override { return 1; }

    HRESULT GetTypeAttr(void**) override { return E_NOTIMPL; }
    HRESULT GetTypeComp(void**) override { return E_NOTIMPL; }
    HRESULT GetFuncDesc(std::uint32_t, void**) override { return E_NOTIMPL; }
    HRESULT GetVarDesc(std::uint32_t, void**) override { return E_NOTIMPL; }

    HRESULT GetNames(MEMBERID memid, BSTR* names, std::uint32_t max,
                     std::uint32_t* count) override {
        if (names == nullptr || count == nullptr) {
            return E_INVALIDARG;
        }
        *count = 0;
        const MemberDesc* m = Member(memid);
        if (m == nullptr) {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        if (max > 0) {
            names[(*count)++] = SysAllocString(m->name);
        }
        for (std::uint8_t i = 0; i < m->paramCount && *count < max; ++i) {
            if (m->kind == MemberKind::Method) {
                names[(*count)++] = SysAllocString(m->params[i].name);
            }
        }
        return S_OK;
    }

    HRESULT GetRefTypeOfImplType(std::uint32_t, std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT GetImplTypeFlags(std::uint32_t, std::int32_t*) override { return E_NOTIMPL; }

    HRESULT GetIDsOfNames(LPOLESTR* names, std::uint32_t count, MEMBERID* ids) override {
        return DispatchGetIDsOfNames(desc_, IID_NULL, names, count, ids);
    }

    HRESULT Invoke(void* instance, MEMBERID memid, std::uint16_t flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, std::uint32_t* argErr) override {
        return DispatchInvoke(desc_, instance, memid, IID_NULL, flags, params, result, excep,
                              argErr);
    }

    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, std::uint32_t* context,
                             BSTR* helpFile) override {
        const char16_t* n = desc_.name;
        const char16_t* h = desc_.help;
        if (memid != kMemberIdNil) {
            const MemberDesc* m = Member(memid);
            if (m == nullptr) {
                return TYPE_E_ELEMENTNOTFOUND;
            }
            n = m->name;
            h = m->help;
        }
        if (name != nullptr) {
            *name = SysAllocString(n);
        }
        if (doc != nullptr) {
            *doc = SysAllocString(h);
        }
        if (context != nullptr) {
            *context = 0;
        }
        if (helpFile != nullptr) {
            *helpFile = nullptr;
        }
        return S_OK;
    }

    HRESULT GetDllEntry(MEMBERID, std::int32_t, BSTR*, BSTR*, std::uint16_t*) override {
        return E_NOTIMPL;
    }
    HRESULT GetRefTypeInfo(std::uint32_t, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT AddressOfMember(MEMBERID, std::int32_t, void**) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown*, REFIID, void** ppv) override {
        if (ppv != nullptr) {
            *ppv = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT GetMops(MEMBERID, BSTR* mops) override {
        if (mops != nullptr) {
            *mops = nullptr;
        }
        return S_OK;
    }
    HRESULT GetContainingTypeLib(void**, std::uint32_t*) override { return E_NOTIMPL; }
    void ReleaseTypeAttr(void*) override {}
    void ReleaseFuncDesc(void*) override {}
    void ReleaseVarDesc(void*) override {}

  private:
    const MemberDesc* Member(MEMBERID memid) const {
        for (const MemberDesc& m : desc_.members) {
            if (m.id == memid) {
                return &m;
            }
        }
        return nullptr;
    }

    const InterfaceDesc& desc_;
};

// Every type information object handed out, by its description; they live as long as the
// process.
struct HandedOut {
    std::mutex lock;
    std::map<const InterfaceDesc*, StaticTypeInfo*> objects;
};

HandedOut& TheHandedOut() {
    static auto* handedOut = new HandedOut;
    return *handedOut;
}

}  // namespace

HRESULT DescribeTypeInfoJson(ITypeInfo* info, BSTR* json) {
    if (info == nullptr || json == nullptr) {
        return E_INVALIDARG;
    }
    *json = nullptr;
    const InterfaceDesc* desc = nullptr;
    {
        HandedOut& h = TheHandedOut();
        std::lock_guard guard(h.lock);
        for (const auto& [d, object] : h.objects) {
            if (static_cast<ITypeInfo*>(object) == info) {
                desc = d;
            }
        }
    }
    if (desc == nullptr) {
        return E_INVALIDARG;
    }
    try {
        const std::string text = DescribeInterfaceJson(*desc);  // ASCII: JsonString escapes
        std::u16string wide(text.begin(), text.end());
        *json = SysAllocStringLen(wide.data(), static_cast<std::uint32_t>(wide.size()));
        return *json != nullptr ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT DispatchGetTypeInfo(const InterfaceDesc& desc, std::uint32_t index, ITypeInfo** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (index != 0) {
        return DISP_E_BADINDEX;
    }
    HandedOut& h = TheHandedOut();
    std::lock_guard guard(h.lock);
    StaticTypeInfo*& object = h.objects[&desc];
    if (object == nullptr) {
        object = new StaticTypeInfo(desc);
    }
    *out = object;
    return S_OK;
}

}  // namespace carvix::automation

extern "C" HRESULT CarvixDescribeTypeInfoJson(ITypeInfo* info, BSTR* json) {
    return carvix::automation::DescribeTypeInfoJson(info, json);
}
