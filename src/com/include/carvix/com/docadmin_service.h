// IDocAdminService: reading (and, later, writing) the card's data blocks as block objects
// (CARVIX.DocAdmin).
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/com/authentication_service.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/guids.h"

namespace carvix::com {

// The interfaces the service's signatures name. Any object that implements
// IAuthenticationService stands in for the authentication object; a script passes it as a
// VT_DISPATCH.
using IVLDocumentBlockArg = IVLDocumentBlock;
using IVLFixedPersoBlockArg = IVLFixedPersoBlock;
using IVLPhotoBlockArg = IVLPhotoBlock;
using IVLVariablePersoBlockArg = IVLVariablePersoBlock;
using IVLContactlessBlockArg = IVLContactlessBlock;
using IZKDocumentBlockArg = IZKDocumentBlock;
using IZKFixedAdminBlockArg = IZKFixedAdminBlock;
using IZKFixedPersoBlockArg = IZKFixedPersoBlock;
using IZKVariableAdminBlockArg = IZKVariableAdminBlock;
using IZKVariablePersoBlockArg = IZKVariablePersoBlock;
using IAuthenticationServiceArg = IAuthenticationService;

/// Every read opens the card application on the named reader, reads one block verified
/// against its SOD, closes the application and returns a new, loaded block object. Failures:
/// E_INVALIDARG for an empty reader name or a null out-pointer (nothing opened); a card
/// failure that carries only a message is shown as a warning notice and returns E_FAIL; a
/// PC/SC code comes back unchanged; an applet status word SW as 0x8007SSSS.
struct IDocAdminService : IDispatch {
    static constexpr const IID& kIid = kIidIDocAdminService;
    static constexpr const char16_t* kName = u"IDocAdminService";

    virtual HRESULT ReadVLDocumentData(BSTR bsReaderName, std::uint16_t uwAppID,
                                       IVLDocumentBlockArg** ppBlock) = 0;
    virtual HRESULT ReadVLFixedPersoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                         IVLFixedPersoBlockArg** ppBlock) = 0;
    virtual HRESULT ReadVLPhotoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                    IVLPhotoBlockArg** ppBlock) = 0;
    virtual HRESULT ReadVLVariablePersoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                            IVLVariablePersoBlockArg** ppBlock) = 0;
    virtual HRESULT WriteVLVariablePersoData(IAuthenticationServiceArg* pAuth,
                                             IVLVariablePersoBlockArg* pBlock,
                                             BSTR bsSignerCertB64) = 0;
    virtual HRESULT ReadZKDocumentData(BSTR bsReaderName, std::uint16_t uwAppID,
                                       IZKDocumentBlockArg** ppBlock) = 0;
    virtual HRESULT ReadZKFixedAdminData(BSTR bsReaderName, std::uint16_t uwAppID,
                                         IZKFixedAdminBlockArg** ppData) = 0;
    virtual HRESULT ReadZKFixedPersoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                         IZKFixedPersoBlockArg** ppBlock) = 0;
    virtual HRESULT ReadZKVariableAdminData(BSTR bsReaderName, std::uint16_t uwAppID,
                                            IZKVariableAdminBlockArg** ppBlock) = 0;
    virtual HRESULT WriteZKVariableAdminData(IAuthenticationServiceArg* pAuth,
                                             IZKVariableAdminBlockArg* pBlock,
                                             BSTR bsSignerCertB64) = 0;
    virtual HRESULT ReadZKVariablePersoData(BSTR bsReaderName, std::uint16_t uwAppID,
                                            IZKVariablePersoBlockArg** ppBlock) = 0;
    virtual HRESULT WriteZKVariablePersoData(IAuthenticationServiceArg* pAuth,
                                             IZKVariablePersoBlockArg* pBlock,
                                             BSTR bsSignerCertB64) = 0;
    virtual HRESULT ReadVLContactlessData(BSTR bsContactlessReaderName, std::int32_t bCheckCLSod,
                                          IVLContactlessBlockArg** ppBlock) = 0;
    virtual HRESULT UpdateVLContactlessData(BSTR bsContactReaderName, std::uint16_t uwAppID,
                                            BSTR bsContactlessReaderName, std::int32_t bCheckCLSod,
                                            BSTR bsEncryptedKeyB64, BSTR bsSignerCertB64) = 0;

  protected:
    ~IDocAdminService() = default;
};

extern const automation::InterfaceDesc kDocAdminServiceDesc;

}  // namespace carvix::com
