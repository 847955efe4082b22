#include "carvix/automation/scoped.h"
#include "carvix/com/object.h"

namespace carvix::com {

HRESULT ObjectSafety::GetInterfaceSafetyOptions(REFIID riid, std::uint32_t* supported,
                                                std::uint32_t* enabled) {
    if (supported == nullptr || enabled == nullptr) {
        return E_POINTER;
    }
    automation::ComPtr<IUnknown> p;
    HRESULT hr = QueryInterface(riid, p.PutVoid());
    if (SUCCEEDED(hr) && p) {
        *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
        *enabled = options_;
    } else {
        *supported = 0;
        *enabled = 0;
    }
    return hr;
}

HRESULT ObjectSafety::SetInterfaceSafetyOptions(REFIID riid, std::uint32_t mask,
                                                std::uint32_t enabled) {
    automation::ComPtr<IUnknown> p;
    if (FAILED(QueryInterface(riid, p.PutVoid())) || !p) {
        return E_NOINTERFACE;
    }
    if ((mask & ~INTERFACESAFE_FOR_UNTRUSTED_CALLER) != 0) {
        return E_FAIL;
    }
    // Every class accepts the change, so there is no E_ACCESSDENIED path.
    options_ = (options_ & ~mask) | (enabled & mask);
    return S_OK;
}

}  // namespace carvix::com
