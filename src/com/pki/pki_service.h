// CARVIX.PKI: a stateless object; every call acquires and releases its own token session.
#pragma once

#include "carvix/com/object.h"
#include "carvix/com/pki_service.h"

namespace carvix::com {

class PKIService final : public CoClass<PKIService, IPKIService, kPKIServiceDesc, ObjectSafety> {
  public:
    /// SCARD_W_CANCELLED_BY_USER: the user cancelled the choice of a certificate.
    static constexpr HRESULT kCancelled = static_cast<HRESULT>(0x8010006Eu);

    HRESULT GenerateKeyPair(BSTR bsContainerName, std::uint32_t ulKeySpec,
                            std::uint32_t ulFlags) override;
    HRESULT CreateCertificateRequest(BSTR bsContainerName, std::uint32_t ulKeySpec,
                                     BSTR bsCommonName, std::int32_t bSetHeaderFooter,
                                     BSTR* bsCertReqB64) override;
    HRESULT ImportCertificate(BSTR bsContainerName, std::uint32_t ulKeySpec,
                              BSTR bsCertB64) override;
    HRESULT SelectEncryptionCertificate(BSTR bsReaderName, BSTR* bsCertB64) override;
    HRESULT SelectSigningCertificate(BSTR bsReaderName, BSTR* bsCertB64) override;

  private:
    HRESULT Select(BSTR bsReaderName, std::uint32_t keySpec, BSTR* bsCertB64);
};

}  // namespace carvix::com
