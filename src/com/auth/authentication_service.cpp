#include "auth/authentication_service.h"

#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/card/card_authentication.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_constants.h"
#include "carvix/support/trace.h"

#include <cstdint>
#include <new>
#include <string>

namespace carvix::com {

namespace ca = automation;
using S = IAuthenticationService;

inline constexpr ca::MemberDesc kAuthenticationMembers[] = {
    ca::Method<&S::Init>(1, u"Init", {u"bsReaderName", u"uwAppID"}, u"method Init"),
    ca::Method<&S::GetChallenge>(2, u"GetChallenge", {u"challenge"}, u"method GetChallenge"),
    ca::Method<&S::ExternalAuthenticate>(3, u"ExternalAuthenticate", {u"ulRoleID", u"bsResponse"},
                                         u"method ExternalAuthenticate"),
    ca::Method<&S::Logout>(4, u"Logout", {u"ulRoleID"}, u"method Logout"),
    ca::Method<&S::GetConnection>(5, u"GetConnection", {u"phConnection"}, u"method GetConnection"),
    ca::Method<&S::GetAppID>(6, u"GetAppID", {u"puwAppID"}, u"method GetAppID"),
};

const ca::InterfaceDesc kAuthenticationServiceDesc{
    u"IAuthenticationService", kIidIAuthenticationService, u"IAuthenticationService Interface",
    kAuthenticationMembers};

namespace {

// Applet status words as 0x8004SSSS, system and PC/SC codes as themselves, never a notice.
constexpr FailurePolicy kPolicy = FailurePolicy::Authentication;

// The largest response one (extended) EXTERNAL AUTHENTICATE carries.
constexpr std::size_t kLongestResponse = 65535;

}  // namespace

template <typename Operation>
auto AuthenticationService::OnCard(Operation&& operation) {
    try {
        return operation(comm_.Handle());
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        if (e.Code() != Orvel::PCSC::kResetCardWarning) {
            throw;
        }
    }
    Orvel::Trace(Orvel::TraceLevel::Info,
                 u"The card was reset by another application; reconnecting the handle");
    comm_.Reconnect(Orvel::PCSC::kShareShared, Orvel::PCSC::kProtocolT0OrT1,
                    Orvel::PCSC::kLeaveCard);
    return operation(comm_.Handle());
}

HRESULT AuthenticationService::FinalConstruct() {
    return Guarded(kPolicy, [&] {
        context_.emplace(Orvel::PCSC::kScopeUser);
        return S_OK;
    });
}

AuthenticationService::~AuthenticationService() {
    if (!initialised_) {
        return;  // the connection, if any, and the context close themselves
    }
    try {
        comm_.Disconnect(Orvel::PCSC::kLeaveCard);
    } catch (const Orvel::Exception& e) {
        if (Orvel::TraceEnabled()) {
            Orvel::Trace(Orvel::TraceLevel::Warning,
                         u"Disconnecting the authenticated card failed: " + e.Message());
        }
    } catch (...) {
    }
}

HRESULT AuthenticationService::Init(BSTR bsReaderName, std::uint16_t uwAppID) {
    return Guarded(kPolicy, [&] {
        const std::u16string reader = ca::BstrText(bsReaderName);
        if (reader.empty()) {
            return E_INVALIDARG;
        }
        comm_.Connect(*context_, reader, Orvel::PCSC::kShareShared, Orvel::PCSC::kProtocolT0OrT1);
        initialised_ = true;
        appId_ = uwAppID;
        return S_OK;
    });
}

HRESULT AuthenticationService::GetChallenge(BSTR* challenge) {
    if (challenge == nullptr) {
        return E_INVALIDARG;
    }
    if (!initialised_) {
        return kNotInitialised;
    }
    return Guarded(kPolicy, [&] {
        const std::u16string text = Orvel::ToBase64(OnCard([this](SCARDHANDLE handle) {
            return CardAuthentication::GetChallenge(handle, appId_);
        }));
        BSTR out = text.empty()
                       ? nullptr
                       : SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
        if (!text.empty() && out == nullptr) {
            return E_OUTOFMEMORY;
        }
        *challenge = out;
        return S_OK;
    });
}

HRESULT AuthenticationService::ExternalAuthenticate(std::uint32_t ulRoleID, BSTR bsResponse) {
    return Guarded(kPolicy, [&] {
        Orvel::ByteArray response;
        try {
            response = Orvel::FromBase64(ca::BstrText(bsResponse));
        } catch (const Orvel::ArgumentException&) {
            return E_INVALIDARG;
        }
        if (response.empty() || response.size() > kLongestResponse) {
            return E_INVALIDARG;
        }
        if (!initialised_) {
            return kNotInitialised;
        }
        OnCard([&](SCARDHANDLE handle) {
            CardAuthentication::ExternalAuthenticate(handle, appId_, ulRoleID, response);
        });
        return S_OK;
    });
}

HRESULT AuthenticationService::Logout(std::uint32_t ulRoleID) {
    if (!initialised_) {
        return kNotInitialised;
    }
    return Guarded(kPolicy, [&] {
        OnCard([&](SCARDHANDLE handle) { CardAuthentication::Logout(handle, appId_, ulRoleID); });
        return S_OK;
    });
}

HRESULT AuthenticationService::GetConnection(impd** phConnection) {
    if (phConnection == nullptr) {
        return E_INVALIDARG;
    }
    // The handle's value itself; pcsc-lite's handle is pointer-sized on LP64.
    static_assert(sizeof(SCARDHANDLE) == sizeof(impd*));
    *phConnection = reinterpret_cast<impd*>(static_cast<std::uintptr_t>(comm_.Handle()));  // NOLINT
    return S_OK;
}

HRESULT AuthenticationService::GetAppID(std::uint16_t* puwAppID) {
    if (puwAppID == nullptr) {
        return E_INVALIDARG;
    }
    *puwAppID = appId_;
    return S_OK;
}

}  // namespace carvix::com
