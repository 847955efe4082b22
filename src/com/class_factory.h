// The class factory of one object-map row.
#pragma once

#include "carvix/com/module.h"

#include <atomic>

namespace carvix::com {

/// Created once per row and cached for the module's life (the cache holds one reference).
/// While a caller holds a further reference the module stays locked, so it is not unloaded
/// under a factory still in use.
class ClassFactory final : public IClassFactory {
  public:
    explicit ClassFactory(CreateFn create) : create_(create) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT LockServer(std::int32_t lock) override;

  private:
    CreateFn create_;
    std::atomic<std::uint32_t> refs_{1};
};

/// DllGetClassObject's work.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

}  // namespace carvix::com
