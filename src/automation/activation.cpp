// In-process activation: ProgID -> CLSID -> InprocServer32 module -> DllGetClassObject.
#include "carvix/automation/guid.h"
#include "carvix/automation/oleauto.h"
#include "carvix/automation/registry.h"
#include "carvix/support/unicode.h"

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <mutex>

namespace {

namespace reg = carvix::automation::registry;

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

std::u16string View(LPCOLESTR s) {
    std::u16string out;
    for (; *s != 0 && out.size() < 4096; ++s) {
        out += *s;
    }
    return out;
}

// Modules stay loaded until CoFreeUnusedLibraries finds them idle.
struct Modules {
    std::mutex lock;
    std::map<std::string, void*> handles;
};

Modules& LoadedModules() {
    static auto* modules = new Modules;
    return *modules;
}

HRESULT ModuleEntry(const std::string& path, GetClassObjectFn& entry) {
    Modules& m = LoadedModules();
    std::lock_guard guard(m.lock);
    void*& handle = m.handles[path];
    if (handle == nullptr) {
        handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            m.handles.erase(path);
            return CO_E_DLLNOTFOUND;
        }
    }
    void* symbol = ::dlsym(handle, "DllGetClassObject");
    if (symbol == nullptr) {
        return CO_E_ERRORINDLL;
    }
    static_assert(sizeof(symbol) == sizeof(entry));
    std::memcpy(&entry, &symbol, sizeof entry);
    return S_OK;
}

}  // namespace

extern "C" {

HRESULT CoInitialize(void*) {
    return S_OK;
}

HRESULT CoInitializeEx(void*, std::uint32_t) {
    return S_OK;
}

void CoUninitialize(void) {}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
    if (lpszProgID == nullptr || lpclsid == nullptr) {
        return E_INVALIDARG;
    }
    std::u16string progId = View(lpszProgID);
    if (progId.empty() || progId.find(u'\\') != std::u16string::npos) {
        return CO_E_CLASSSTRING;
    }
    // A version-independent ProgID names its current version under CurVer; the CLSID of
    // that version wins, the key's own CLSID is the fallback.
    std::optional<std::u16string> clsid;
    std::u16string name = progId;
    for (int depth = 0; depth < 4; ++depth) {
        auto current = reg::ClassesValue(name + u"\\CurVer");
        if (!current || current->empty() || current->find(u'\\') != std::u16string::npos) {
            break;
        }
        name = *current;
    }
    clsid = reg::ClassesValue(name + u"\\CLSID");
    if (!clsid && name != progId) {
        clsid = reg::ClassesValue(progId + u"\\CLSID");
    }
    auto guid = clsid ? carvix::automation::ParseGuid(*clsid) : std::nullopt;
    if (!guid) {
        return CO_E_CLASSSTRING;
    }
    *lpclsid = *guid;
    return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (lplpszProgID == nullptr) {
        return E_INVALIDARG;
    }
    *lplpszProgID = nullptr;
    auto progId =
        reg::ClassesValue(u"CLSID\\" + carvix::automation::GuidToString(clsid) + u"\\ProgID");
    if (!progId) {
        return REGDB_E_CLASSNOTREG;
    }
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((progId->size() + 1) * sizeof(OLECHAR)));
    if (out == nullptr) {
        return E_OUTOFMEMORY;
    }
    progId->copy(out, progId->size());
    out[progId->size()] = 0;
    *lplpszProgID = out;
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID rclsid, std::uint32_t dwClsContext, void*, REFIID riid,
                         void** ppv) {
    if (ppv == nullptr) {
        return E_INVALIDARG;
    }
    *ppv = nullptr;
    if ((dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) {
        return REGDB_E_CLASSNOTREG;  // only in-process servers exist here
    }
    auto path = reg::ClassesValue(u"CLSID\\" + carvix::automation::GuidToString(rclsid) +
                                  u"\\InprocServer32");
    if (!path || path->empty()) {
        return REGDB_E_CLASSNOTREG;
    }
    GetClassObjectFn entry = nullptr;
    HRESULT hr = ModuleEntry(Orvel::Utf16ToUtf8(*path), entry);
    if (FAILED(hr)) {
        return hr;
    }
    return entry(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, std::uint32_t dwClsContext,
                         REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_INVALIDARG;
    }
    *ppv = nullptr;
    void* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, &factory);
    if (FAILED(hr)) {
        return hr;
    }
    auto* cf = static_cast<IClassFactory*>(factory);
    hr = cf->CreateInstance(pUnkOuter, riid, ppv);
    cf->Release();
    return hr;
}

void CoFreeUnusedLibraries(void) {
    Modules& m = LoadedModules();
    std::lock_guard guard(m.lock);
    for (auto it = m.handles.begin(); it != m.handles.end();) {
        void* symbol = ::dlsym(it->second, "DllCanUnloadNow");
        CanUnloadNowFn canUnload = nullptr;
        std::memcpy(&canUnload, &symbol, sizeof canUnload);
        if (canUnload != nullptr && canUnload() == S_OK) {
            ::dlclose(it->second);
            it = m.handles.erase(it);
        } else {
            ++it;
        }
    }
}

}  // extern "C"
