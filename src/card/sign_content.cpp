#include "carvix/card/hash.h"
#include "carvix/card/user_signing.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/openssl_ptr.h"
#include "carvix/support/private_key.h"
#include "carvix/support/trace.h"
#include "user_store.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>

namespace x509 = Orvel::Security::Cryptography::X509;
namespace OpenSsl = Orvel::OpenSsl;

namespace {

constexpr const char16_t* kUnableToSign = u"Unable to sign data";
constexpr const char16_t* kNoSuitableCertificate =
    u"There is no suitable certificate that can be used for signing";

[[noreturn]] void SigningFailed() {
    ERR_clear_error();
    throw CardException(kUnableToSign);
}

// SHA-256 with RSA on every supported system; SHA-1 only where the system is too old for it.
const EVP_MD* SignatureDigest() {
    return OsMajorVersion() >= 6 ? EVP_sha256() : EVP_sha1();
}

}  // namespace

x509::X509Certificate FindSigningCertificate(const x509::X509Certificate& certificate) {
    if (!certificate.IsEmpty()) {
        for (const auto& candidate : carvix::card::UserCertificates(u"My")) {
            if (candidate.Equals(certificate)) {
                return candidate;
            }
        }
    }
    throw CardException(kNoSuitableCertificate);
}

Signer ResolveSigner(const x509::X509Certificate& certificate) {
    Signer signer;
    signer.certificate = certificate.IsEmpty() ? ChooseSigningCertificate(nullptr)
                                               : FindSigningCertificate(certificate);
    if (signer.certificate.IsEmpty()) {
        throw CardException(u"Signing certificate is missing");
    }
    try {
        signer.key = x509::LoadPrivateKey(signer.certificate);
    } catch (const Orvel::Exception&) {
        SigningFailed();  // the reason went to the trace sink
    }
    return signer;
}

Orvel::ByteArray SignContent(std::span<const std::uint8_t> content,
                             const x509::X509Certificate& certificate, bool includeCertificate) {
    return SignWith(content, ResolveSigner(certificate), includeCertificate);
}

Orvel::ByteArray SignWith(std::span<const std::uint8_t> content, const Signer& signer,
                          bool includeCertificate) {
    if (signer.certificate.IsEmpty() || signer.key == nullptr) {
        SigningFailed();
    }
    static const unsigned char kNothing = 0;
    auto data = OpenSsl::Own<BIO_free>(BIO_new_mem_buf(content.empty() ? &kNothing : content.data(),
                                                       static_cast<int>(content.size())));
    // Built in steps so that the digest and the certificate choice are ours, not defaults.
    auto cms = OpenSsl::Own<CMS_ContentInfo_free>(
        CMS_sign(nullptr, nullptr, nullptr, nullptr, CMS_PARTIAL | CMS_BINARY));
    if (data == nullptr || cms == nullptr) {
        SigningFailed();
    }
    const unsigned int signerFlags =
        CMS_BINARY | CMS_NOATTR | CMS_NOSMIMECAP | (includeCertificate ? 0u : CMS_NOCERTS);
    if (CMS_add1_signer(cms.get(), signer.certificate.Handle(), signer.key.get(), SignatureDigest(),
                        signerFlags) == nullptr ||
        CMS_final(cms.get(), data.get(), nullptr, CMS_BINARY) != 1) {
        SigningFailed();
    }
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms.get(), &der);
    if (length <= 0) {
        SigningFailed();
    }
    Orvel::ByteArray message(der, der + length);
    OPENSSL_free(der);
    return message;
}
