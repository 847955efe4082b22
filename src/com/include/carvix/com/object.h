// The machinery every scripting class shares: reference counting with optional
// aggregation, IDispatch served from the interface's static description, IObjectSafety,
// ISupportErrorInfo and creation for the class factory.
//
// A class is written as
//     class UtilitiesService final
//         : public CoClass<UtilitiesService, IUtilitiesService, kUtilitiesServiceDesc,
//                          ObjectSafety> { ... the interface's methods ... };
// and its object-map row names Create<UtilitiesService>. Leave out ObjectSafety for a class
// that must not answer IObjectSafety.
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/com/call_log.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/com/module.h"
#include "carvix/support/trace.h"

#include <atomic>
#include <new>

namespace carvix::com {

/// IObjectSafety with per-object options; only INTERFACESAFE_FOR_UNTRUSTED_CALLER exists.
class ObjectSafety : public IObjectSafety {
  public:
    HRESULT GetInterfaceSafetyOptions(REFIID riid, std::uint32_t* supported,
                                      std::uint32_t* enabled) override;
    HRESULT SetInterfaceSafetyOptions(REFIID riid, std::uint32_t mask,
                                      std::uint32_t enabled) override;

  private:
    std::uint32_t options_ = 0;
};

template <class Derived, class Primary, const automation::InterfaceDesc& Desc, class... Extra>
class CoClass : public Primary, public ISupportErrorInfo, public Extra... {
  public:
    CoClass() : outer_(&inner_) { LockModule(); }
    CoClass(const CoClass&) = delete;
    CoClass& operator=(const CoClass&) = delete;

    // IUnknown of every interface: delegates to the controlling unknown.
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return outer_->QueryInterface(riid, ppv);
    }
    std::uint32_t AddRef() override { return outer_->AddRef(); }
    std::uint32_t Release() override { return outer_->Release(); }

    HRESULT GetTypeInfoCount(std::uint32_t* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(std::uint32_t index, LCID, ITypeInfo** out) override {
        return automation::DispatchGetTypeInfo(Desc, index, out);
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, std::uint32_t count, LCID,
                          DISPID* ids) override {
        return automation::DispatchGetIDsOfNames(Desc, riid, names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, std::uint16_t flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excep, std::uint32_t* argErr) override {
        if (!Orvel::TraceEnabled()) {
            return automation::DispatchInvoke(Desc, static_cast<Primary*>(this), id, riid, flags,
                                              params, result, excep, argErr);
        }
        const CallLog log(Desc, id, flags);
        return log.Ended(automation::DispatchInvoke(Desc, static_cast<Primary*>(this), id, riid,
                                                    flags, params, result, excep, argErr));
    }

    // Every member fails through the failure boundary (failure_boundary.h), which leaves the
    // failure's message as the thread's error object, for direct and IDispatch callers alike.
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override {
        return riid == Primary::kIid || riid == IID_IDispatch ? S_OK : S_FALSE;
    }

    /// Creation for the class factory: standalone, or aggregated when `outer` is given (then
    /// only IUnknown may be asked for, and the inner unknown is returned). A class that
    /// needs to acquire something first defines `HRESULT FinalConstruct()`; its failure
    /// fails the creation with that HRESULT. Exceptions never leave this function.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr && !(riid == IID_IUnknown)) {
            return CLASS_E_NOAGGREGATION;
        }
        Derived* object = nullptr;
        if (const HRESULT made = Guarded(FailurePolicy::Plain,
                                         [&] {
                                             object = new Derived();
                                             return S_OK;
                                         });
            FAILED(made)) {
            return made;
        }
        if (outer != nullptr) {
            object->outer_ = outer;
        }
        HRESULT hr = S_OK;
        if constexpr (requires(Derived & d) { d.FinalConstruct(); }) {
            hr = Guarded(FailurePolicy::Plain, [&] { return object->FinalConstruct(); });
        }
        if (SUCCEEDED(hr)) {
            hr = object->inner_.QueryInterface(riid, ppv);
        }
        object->inner_.Release();  // drops the creation reference; deletes on failure
        return hr;
    }

  protected:
    ~CoClass() { UnlockModule(); }

  private:
    // The non-delegating unknown: owns the reference count and answers for the interfaces.
    struct Inner final : IUnknown {
        explicit Inner(CoClass* o) : owner(o) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override {
            if (ppv == nullptr) {
                return E_POINTER;
            }
            void* p = nullptr;
            if (riid == IID_IUnknown) {
                p = static_cast<IUnknown*>(this);
            } else if (riid == IID_IDispatch || riid == Primary::kIid) {
                p = static_cast<Primary*>(owner);
            } else if (riid == IID_ISupportErrorInfo) {
                p = static_cast<ISupportErrorInfo*>(owner);
            } else {
                ((riid == Extra::kIid ? (p = static_cast<Extra*>(owner), 0) : 0), ...);
            }
            *ppv = p;
            if (p == nullptr) {
                return E_NOINTERFACE;
            }
            // Through the interface: an aggregated object's reference goes to the outer one.
            static_cast<IUnknown*>(p)->AddRef();
            return S_OK;
        }
        std::uint32_t AddRef() override { return ++refs; }
        std::uint32_t Release() override {
            const std::uint32_t left = --refs;
            if (left == 0) {
                delete static_cast<Derived*>(owner);
            }
            return left;
        }
        CoClass* owner;
        std::atomic<std::uint32_t> refs{1};
    };

    Inner inner_{this};
    IUnknown* outer_;
};

/// The object-map creation function of a class.
template <class T>
HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
    return T::CreateInstance(outer, riid, ppv);
}

}  // namespace carvix::com
