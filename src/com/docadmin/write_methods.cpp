// The three write methods of the document service: the caller's block object stores its
// fields into a fresh model, and the model is written on the card handle that the caller's
// authentication object holds, with the SOD that covers it signed again.
#include "carvix/automation/oleauto.h"
#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/x509_certificate.h"
#include "docadmin/docadmin_service.h"
#include "docadmin/signer_from_base64.h"

#include <string_view>

namespace carvix::com {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;

/// What a write answers for a null card handle (an authentication object that was never
/// initialised): the handle is invalid, so PC/SC is not asked.
constexpr HRESULT kInvalidHandle = static_cast<HRESULT>(0x80100003u);  // SCARD_E_INVALID_HANDLE

}  // namespace

HRESULT DocAdminService::Write(CardBlock& model, IAuthenticationService* auth, IUnknown* block,
                               BSTR signerB64) {
    if (auth == nullptr || block == nullptr) {
        return E_INVALIDARG;
    }
    return Guarded(FailurePolicy::Document, [&] {
        x509::X509Certificate signer;
        if (const HRESULT hr = SignerFromBase64(signerB64, signer); FAILED(hr)) {
            return hr;
        }
        HRESULT stored = E_FAIL;
        try {
            stored = backend_.StoreBlockObject(block, model);
        } catch (...) {
            stored = E_FAIL;  // an object that cannot give its values; never escapes the call
        }
        if (FAILED(stored)) {
            return stored;
        }
        impd* handle = nullptr;
        if (const HRESULT hr = auth->GetConnection(&handle); FAILED(hr)) {
            return hr;
        }
        std::uint16_t appId = 0xFFFF;
        if (const HRESULT hr = auth->GetAppID(&appId); FAILED(hr)) {
            return hr;
        }
        if (handle == nullptr) {
            return kInvalidHandle;
        }
        backend_.WriteToCard(reinterpret_cast<std::uintptr_t>(handle), appId, model, signer);
        return S_OK;
    });
}

HRESULT DocAdminService::WriteVLVariablePersoData(IAuthenticationServiceArg* pAuth,
                                                  IVLVariablePersoBlockArg* pBlock,
                                                  BSTR bsSignerCertB64) {
    VLVariablePersoModel model;
    return Write(model, pAuth, pBlock, bsSignerCertB64);
}

HRESULT DocAdminService::WriteZKVariableAdminData(IAuthenticationServiceArg* pAuth,
                                                  IZKVariableAdminBlockArg* pBlock,
                                                  BSTR bsSignerCertB64) {
    ZKVariableAdminModel model;
    return Write(model, pAuth, pBlock, bsSignerCertB64);
}

HRESULT DocAdminService::WriteZKVariablePersoData(IAuthenticationServiceArg* pAuth,
                                                  IZKVariablePersoBlockArg* pBlock,
                                                  BSTR bsSignerCertB64) {
    ZKVariablePersoModel model;
    return Write(model, pAuth, pBlock, bsSignerCertB64);
}

}  // namespace carvix::com
