// IPKIService: enrolment of the card holder on a PKCS#11 token (CARVIX.PKI): key pairs in
// key containers, PKCS#10 requests, certificate import and the choice of the card's signing
// or encryption certificate. The mapping of readers, containers and key usages onto
// a token is described in src/pki (key_container.h).
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/com/guids.h"

#include <cstdint>

namespace carvix::com {

struct IPKIService : IDispatch {
    static constexpr const IID& kIid = kIidIPKIService;
    static constexpr const char16_t* kName = u"IPKIService";

    /// Generates the RSA pair of `ulKeySpec` (1 exchange, 2 signature) in the container; the
    /// key length is the upper 16 bits of `ulFlags`, 2048 when they are 0.
    virtual HRESULT GenerateKeyPair(BSTR bsContainerName, std::uint32_t ulKeySpec,
                                    std::uint32_t ulFlags) = 0;
    /// The PKCS#10 request of the container's pair as Base64 lines of 64 characters, framed
    /// by the "CERTIFICATE REQUEST" header and footer when the low 16 bits of
    /// `bSetHeaderFooter` are non-zero.
    virtual HRESULT CreateCertificateRequest(BSTR bsContainerName, std::uint32_t ulKeySpec,
                                             BSTR bsCommonName, std::int32_t bSetHeaderFooter,
                                             BSTR* bsCertReqB64) = 0;
    /// Stores the certificate (Base64, PEM framing allowed) with the container's pair.
    virtual HRESULT ImportCertificate(BSTR bsContainerName, std::uint32_t ulKeySpec,
                                      BSTR bsCertB64) = 0;
    /// The reader's encryption certificate as Base64; 0x8010002C when there is none,
    /// 0x8010006E when the user cancelled the choice among several.
    virtual HRESULT SelectEncryptionCertificate(BSTR bsReaderName, BSTR* bsCertB64) = 0;
    /// The reader's signing certificate, as SelectEncryptionCertificate.
    virtual HRESULT SelectSigningCertificate(BSTR bsReaderName, BSTR* bsCertB64) = 0;

  protected:
    ~IPKIService() = default;
};

extern const automation::InterfaceDesc kPKIServiceDesc;

}  // namespace carvix::com
