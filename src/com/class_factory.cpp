#include "class_factory.h"

#include "carvix/com/failure_boundary.h"

namespace carvix::com {

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

std::uint32_t ClassFactory::AddRef() {
    const std::uint32_t refs = ++refs_;
    if (refs == 2) {
        LockModule();  // first reference outside the cache
    }
    return refs;
}

std::uint32_t ClassFactory::Release() {
    if (refs_ <= 1) {
        return 1;  // the cache's own reference is never given up
    }
    const std::uint32_t refs = --refs_;
    if (refs == 1) {
        UnlockModule();
    }
    return refs;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    return Guarded(FailurePolicy::Plain, [&] { return create_(outer, riid, ppv); });
}

HRESULT ClassFactory::LockServer(std::int32_t lock) {
    if (lock != 0) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

}  // namespace carvix::com
