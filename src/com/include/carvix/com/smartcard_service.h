// ISmartCardService: finding the reader to work with (CARVIX.SmartCard).
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/com/guids.h"

namespace carvix::com {

struct ISmartCardService : IDispatch {
    static constexpr const IID& kIid = kIidISmartCardService;
    static constexpr const char16_t* kName = u"ISmartCardService";
    /// The reader the user picks for a card with the VL or ZK applet.
    virtual HRESULT SelectReader(BSTR* bsReaderName) = 0;
    /// The reader the user picks for a contactless card.
    virtual HRESULT SelectContactlessReader(BSTR* bsReaderName) = 0;
    /// Every reader the resource manager knows, in its order, as VT_ARRAY | VT_VARIANT of
    /// VT_BSTR with lower bound 0. No reader, or no PC/SC service, gives an empty array and
    /// S_OK. E_INVALIDARG for a null out-pointer.
    virtual HRESULT ListReaders(VARIANT* pReaders) = 0;

  protected:
    ~ISmartCardService() = default;
};

extern const automation::InterfaceDesc kSmartCardServiceDesc;

}  // namespace carvix::com
