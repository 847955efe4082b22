// The five entry points of the module (and the type-library description).
#include "carvix/com/exports.h"

#include "carvix/automation/oleauto.h"
#include "carvix/support/card_wait.h"
#include "class_factory.h"
#include "registration.h"
#include "typelib.h"

#include <atomic>

namespace {

std::atomic<bool> g_perUser{false};  // set by DllInstall("user"), never cleared

bool IsUserSwitch(const OLECHAR* cmd) {
    if (cmd == nullptr) {
        return false;
    }
    static constexpr char16_t kWord[] = u"user";  // compared with its terminating null
    for (int i = 0; i < 5; ++i) {
        char16_t c = cmd[i];
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
        if (c != kWord[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" {

HRESULT DllCanUnloadNow(void) {
    // A probe still waiting for a card another program holds runs code of this module.
    return carvix::com::ModuleLockCount() == 0 && Orvel::PCSC::PendingCardProbes() == 0 ? S_OK
                                                                                        : S_FALSE;
}

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return carvix::com::GetClassObject(rclsid, riid, ppv);
}

HRESULT DllRegisterServer(void) {
    return carvix::com::RegisterServer(g_perUser, carvix::com::ModulePath());
}

HRESULT DllUnregisterServer(void) {
    return carvix::com::UnregisterServer(g_perUser);
}

HRESULT DllInstall(std::int32_t bInstall, const OLECHAR* pszCmdLine) {
    if (IsUserSwitch(pszCmdLine)) {
        g_perUser = true;
    }
    if (bInstall == 0) {
        return DllUnregisterServer();
    }
    HRESULT hr = DllRegisterServer();
    if (FAILED(hr)) {
        DllUnregisterServer();
    }
    return hr;
}

HRESULT DllDescribeTypeLibrary(BSTR* pbstrJson) {
    if (pbstrJson == nullptr) {
        return E_POINTER;
    }
    *pbstrJson = nullptr;
    const std::string json = carvix::com::DescribeTypeLibraryJson();  // ASCII only
    const std::u16string wide(json.begin(), json.end());
    *pbstrJson = SysAllocStringLen(wide.data(), static_cast<std::uint32_t>(wide.size()));
    return *pbstrJson != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // extern "C"
