// IAuthenticationService: one card connection that a caller authenticates by challenge and
// response and then lends to the write methods of the document service (CARVIX.Auth).
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/com/guids.h"

#include <cstdint>

namespace carvix::com {

/// The opaque record the type library names for the card handle. An `impd*` is never
/// dereferenced: its value is the PC/SC card handle (pointer-sized, 64-bit here). Complete but
/// empty, so that the type-description templates can inspect it.
struct impd {};

/// Any object that implements this interface can stand in for the authentication object:
/// the write methods take the card handle and application ID through GetConnection and
/// GetAppID. Card failures return 0x80040000 | SW for an applet status word and the PC/SC code
/// otherwise; no message is shown.
struct IAuthenticationService : IDispatch {
    static constexpr const IID& kIid = kIidIAuthenticationService;
    static constexpr const char16_t* kName = u"IAuthenticationService";

    /// Connects to the reader (shared, T=0 or T=1) and keeps the application ID. E_INVALIDARG
    /// for an empty name; 0x80100001 when already connected. Sends no card command.
    virtual HRESULT Init(BSTR bsReaderName, std::uint16_t uwAppID) = 0;
    /// The card's challenge as Base64 text.
    virtual HRESULT GetChallenge(BSTR* challenge) = 0;
    /// Hands the Base64 response to the card for the role. E_INVALIDARG for text that is not
    /// Base64 or decodes to nothing, without contacting the card.
    virtual HRESULT ExternalAuthenticate(std::uint32_t ulRoleID, BSTR bsResponse) = 0;
    /// Withdraws the role on the card; the connection stays open.
    virtual HRESULT Logout(std::uint32_t ulRoleID) = 0;
    /// The card handle's value (null before a successful Init).
    virtual HRESULT GetConnection(impd** phConnection) = 0;
    /// The application ID (0xFFFF before a successful Init).
    virtual HRESULT GetAppID(std::uint16_t* puwAppID) = 0;

  protected:
    ~IAuthenticationService() = default;
};

extern const automation::InterfaceDesc kAuthenticationServiceDesc;

}  // namespace carvix::com

namespace carvix::automation::detail {
// Through IDispatch the handle travels as a pointer-sized unsigned integer.
template <>
struct InTraits<carvix::com::impd*> {
    static constexpr VARTYPE vt = VT_UI8;
};
}  // namespace carvix::automation::detail
