// IUtilitiesService: readable text for an error code (CARVIX.Utilities).
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/com/guids.h"

namespace carvix::com {

struct IUtilitiesService : IDispatch {
    static constexpr const IID& kIid = kIidIUtilitiesService;
    static constexpr const char16_t* kName = u"IUtilitiesService";
    /// The system message text of the code, without any "\r\n"; S_OK for every code.
    /// E_INVALIDARG for a null out-pointer.
    virtual HRESULT GetErrorMessage(std::int32_t ulErrorCode, BSTR* bsMessage) = 0;

  protected:
    ~IUtilitiesService() = default;
};

extern const automation::InterfaceDesc kUtilitiesServiceDesc;

}  // namespace carvix::com
