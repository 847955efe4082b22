#include "utilities_service.h"

#include "carvix/automation/oleauto.h"
#include "carvix/support/exceptions.h"

namespace carvix::com {

namespace ca = automation;

inline constexpr ca::MemberDesc kUtilitiesMembers[] = {
    ca::Method<&IUtilitiesService::GetErrorMessage>(
        1, u"GetErrorMessage", {u"ulErrorCode", u"bsMessage"},
        u"Returns formated message string for the requested error code"),
};

const ca::InterfaceDesc kUtilitiesServiceDesc{u"IUtilitiesService", kIidIUtilitiesService,
                                              u"IUtilitiesService Interface", kUtilitiesMembers};

HRESULT UtilitiesService::GetErrorMessage(std::int32_t ulErrorCode, BSTR* bsMessage) {
    if (bsMessage == nullptr) {
        return E_INVALIDARG;
    }
    // The exception only carries the text (and feeds the trace sink); it is never thrown.
    const Orvel::Win32Exception carrier("GetErrorMessage", static_cast<std::uint32_t>(ulErrorCode));
    const std::u16string& text = carrier.Message();
    if (text.empty()) {
        *bsMessage = nullptr;
        return S_OK;
    }
    BSTR out = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    if (out == nullptr) {
        return E_OUTOFMEMORY;
    }
    *bsMessage = out;
    return S_OK;
}

}  // namespace carvix::com
