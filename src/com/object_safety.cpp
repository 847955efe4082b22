#include "carvix/com/object.h"

namespace carvix::com {

HRESULT ObjectSafety::GetInterfaceSafetyOptions(REFIID riid, std::uint32_t* supported,
                                                std::uint32_t* enabled) {
    if (supported == nullptr || enabled == nullptr) {
        return E_POINTER;
    }
    void* p = nullptr;
    HRESULT hr = QueryInterface(riid, &p);
    if (SUCCEEDED(hr) && p != nullptr) {
        static_cast<IUnknown*>(p)->Release();
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
    void* p = nullptr;
    if (FAILED(QueryInterface(riid, &p)) || p == nullptr) {
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(p)->Release();
    if ((mask & ~INTERFACESAFE_FOR_UNTRUSTED_CALLER) != 0) {
        return E_FAIL;
    }
    // Every class accepts the change, so there is no E_ACCESSDENIED path.
    options_ = (options_ & ~mask) | (enabled & mask);
    return S_OK;
}

}  // namespace carvix::com
