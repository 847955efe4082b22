// Error objects: CreateErrorInfo makes one, SetErrorInfo makes it the calling thread's
// current one, GetErrorInfo hands that over. The thread keeps one reference to its current
// object and drops it when the object is replaced, taken or the thread ends.
#include "carvix/automation/oleauto.h"

#include <atomic>
#include <new>
#include <string>

namespace carvix::automation {
namespace {

class ErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
  public:
    ErrorInfo() = default;
    ErrorInfo(const ErrorInfo&) = delete;
    ErrorInfo& operator=(const ErrorInfo&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *ppv = static_cast<IErrorInfo*>(this);
        } else if (riid == IID_ICreateErrorInfo) {
            *ppv = static_cast<ICreateErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT GetGUID(GUID* pGUID) override {
        if (pGUID == nullptr) {
            return E_INVALIDARG;
        }
        *pGUID = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* out) override { return Give(source_, out); }
    HRESULT GetDescription(BSTR* out) override { return Give(description_, out); }
    HRESULT GetHelpFile(BSTR* out) override { return Give(helpFile_, out); }
    HRESULT GetHelpContext(std::uint32_t* out) override {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        *out = helpContext_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID rguid) override {
        guid_ = rguid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR text) override { return Keep(source_, text); }
    HRESULT SetDescription(LPOLESTR text) override { return Keep(description_, text); }
    HRESULT SetHelpFile(LPOLESTR text) override { return Keep(helpFile_, text); }
    HRESULT SetHelpContext(std::uint32_t context) override {
        helpContext_ = context;
        return S_OK;
    }

  private:
    ~ErrorInfo() = default;

    // A new BSTR with the text; a text never set or empty is a null BSTR.
    static HRESULT Give(const std::u16string& text, BSTR* out) {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        *out = nullptr;
        if (text.empty()) {
            return S_OK;
        }
        *out = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
        return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    // A null text clears the field.
    static HRESULT Keep(std::u16string& field, LPOLESTR text) {
        try {
            field.assign(text != nullptr ? text : u"");
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    std::atomic<std::uint32_t> refs_{1};
    GUID guid_{};
    std::u16string source_;
    std::u16string description_;
    std::u16string helpFile_;
    std::uint32_t helpContext_ = 0;
};

// The calling thread's current error object; released when the thread ends.
class CurrentErrorInfo {
  public:
    CurrentErrorInfo() = default;
    CurrentErrorInfo(const CurrentErrorInfo&) = delete;
    CurrentErrorInfo& operator=(const CurrentErrorInfo&) = delete;
    ~CurrentErrorInfo() { Replace(nullptr); }

    /// Holds `info` (one reference taken) and releases the one it held.
    void Replace(IErrorInfo* info) noexcept {
        if (info != nullptr) {
            info->AddRef();
        }
        IErrorInfo* old = info_;
        info_ = info;
        if (old != nullptr) {
            old->Release();  // after the swap: a Release that sets a new one finds it in place
        }
    }
    /// The held object with its reference, leaving none held.
    IErrorInfo* Take() noexcept {
        IErrorInfo* info = info_;
        info_ = nullptr;
        return info;
    }

  private:
    IErrorInfo* info_ = nullptr;
};

thread_local CurrentErrorInfo tCurrent;

}  // namespace
}  // namespace carvix::automation

using carvix::automation::ErrorInfo;
using carvix::automation::tCurrent;

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (pperrinfo == nullptr) {
        return E_INVALIDARG;
    }
    ErrorInfo* info = new (std::nothrow) ErrorInfo();
    *pperrinfo = info;
    return info == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(std::uint32_t dwReserved, IErrorInfo* perrinfo) {
    if (dwReserved != 0) {
        return E_INVALIDARG;
    }
    tCurrent.Replace(perrinfo);
    return S_OK;
}

HRESULT GetErrorInfo(std::uint32_t dwReserved, IErrorInfo** pperrinfo) {
    if (pperrinfo == nullptr || dwReserved != 0) {
        return E_INVALIDARG;
    }
    *pperrinfo = tCurrent.Take();
    return *pperrinfo != nullptr ? S_OK : S_FALSE;
}

}  // extern "C"
