// CARVIX.Auth: the one scripting object that holds a card connection across calls. It owns
// its PC/SC context (from creation) and its card connection (from Init) until it is
// destroyed, so the security status a role gains on the card lasts until then.
#pragma once

#include "carvix/com/authentication_service.h"
#include "carvix/com/object.h"
#include "carvix/support/pcsc_comm.h"
#include "carvix/support/pcsc_context.h"

#include <cstdint>
#include <optional>

namespace carvix::com {

/// GetChallenge, ExternalAuthenticate and Logout before a successful Init return
/// kNotInitialised and touch no card.
class AuthenticationService final : public CoClass<AuthenticationService, IAuthenticationService,
                                                   kAuthenticationServiceDesc, ObjectSafety> {
  public:
    /// SCARD_E_INVALID_HANDLE: there is no card handle yet.
    static constexpr HRESULT kNotInitialised = static_cast<HRESULT>(0x80100003u);

    AuthenticationService() = default;
    ~AuthenticationService();

    /// Establishes the context; its failure fails the creation with the PC/SC code.
    HRESULT FinalConstruct();

    HRESULT Init(BSTR bsReaderName, std::uint16_t uwAppID) override;
    HRESULT GetChallenge(BSTR* challenge) override;
    HRESULT ExternalAuthenticate(std::uint32_t ulRoleID, BSTR bsResponse) override;
    HRESULT Logout(std::uint32_t ulRoleID) override;
    HRESULT GetConnection(impd** phConnection) override;
    HRESULT GetAppID(std::uint16_t* puwAppID) override;

  private:
    // Runs a card operation on the owned handle. When another application has reset the card
    // since the last call, the handle reports the reset to every call until it is reconnected:
    // the reset is acknowledged once (reconnect, leaving the card as it is) and the operation
    // runs again. The card has forgotten its granted roles by then, as after any reset.
    template <typename Operation>
    auto OnCard(Operation&& operation);

    // The context outlives the connection made through it: declared first, destroyed last.
    std::optional<Orvel::PCSC::PCSCContext> context_;
    Orvel::PCSC::PCSCComm comm_;
    bool initialised_ = false;
    std::uint16_t appId_ = 0xFFFF;
};

}  // namespace carvix::com
