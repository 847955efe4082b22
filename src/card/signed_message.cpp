#include "carvix/card/signed_message.h"

#include "carvix/card/hash.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/openssl_ptr.h"
#include "carvix/support/text.h"
#include "carvix/support/x509_store.h"
#include "verification_cache.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <memory>
#include <vector>

namespace x509 = Orvel::Security::Cryptography::X509;
namespace OpenSsl = Orvel::OpenSsl;

namespace {

// The codes the message functions of the original platform report, printed in decimal in the
// parse failure message:
constexpr std::uint32_t kAsn1BadTag = 0x8009310Bu;     // CRYPT_E_ASN1_BADTAG: not DER of the type
constexpr std::uint32_t kAsn1EndOfData = 0x80093102u;  // CRYPT_E_ASN1_EOD: cut short
constexpr std::uint32_t kUnexpectedMsgType =
    0x8009200Au;                                      // CRYPT_E_UNEXPECTED_MSG_TYPE: no SignedData
constexpr std::uint32_t kNoSigner = 0x8009100Eu;      // CRYPT_E_NO_SIGNER: signer 0 missing
constexpr std::uint32_t kMessageError = 0x80091001u;  // CRYPT_E_MSG_ERROR: content not attached
constexpr std::uint32_t kSignerNotFound = 0x80092004u;  // CRYPT_E_NOT_FOUND: no signer certificate

[[noreturn]] void ParseFailure(std::uint32_t code) {
    ERR_clear_error();
    throw CardException(
        Orvel::Format("Error parsing PKCS7 structure from SOD block, error code: %d",
                      static_cast<int>(static_cast<std::int32_t>(code))));
}

// A DER decoding failure is either a message that ends too early or one whose bytes are not
// the expected structure.
std::uint32_t DecodeFailureCode() {
    unsigned long error;
    while ((error = ERR_get_error()) != 0) {
        if (ERR_GET_LIB(error) != ERR_LIB_ASN1) {
            continue;
        }
        int reason = ERR_GET_REASON(error);
        if (reason == ASN1_R_TOO_LONG || reason == ASN1_R_HEADER_TOO_LONG ||
            reason == ASN1_R_NOT_ENOUGH_DATA) {
            return kAsn1EndOfData;
        }
    }
    return kAsn1BadTag;
}

// The signer's certificate from the store, or from the certificates the message carries. A
// carried certificate is matched on the parsed object itself, so that no certificate is
// encoded or decoded again on the way.
x509::X509Certificate FindSigner(CMS_ContentInfo* cms, CMS_SignerInfo* first,
                                 const std::optional<SignerStore>& store) {
    if (store) {
        x509::X509Store opened(store->location, store->name.empty() ? u"My" : store->name);
        try {
            opened.Open(x509::kStoreReadOnly);
        } catch (const Orvel::Exception&) {
            return {};  // an unreadable store holds no signer
        }
        for (const auto& certificate : opened.Certificates()) {
            if (CMS_SignerInfo_cert_cmp(first, certificate.Handle()) == 0) {
                return certificate;
            }
        }
        return {};
    }
    // The stack holds new references on the parsed certificates, not copies.
    auto carried = OpenSsl::Own<OpenSsl::FreeCertificates>(CMS_get1_certs(cms));
    for (int i = 0; carried != nullptr && i < sk_X509_num(carried.get()); ++i) {
        X509* candidate = sk_X509_value(carried.get(), i);
        if (CMS_SignerInfo_cert_cmp(first, candidate) == 0) {
            return x509::X509Certificate(candidate);
        }
    }
    return {};
}

}  // namespace

VerifiedMessage VerifySignedMessage(std::span<const std::uint8_t> message,
                                    const std::optional<SignerStore>& store) {
    // The message digests and the signature use OpenSSL's own SHA-256; acquiring the provider
    // first keeps the failure rule of the hash provider for verifications too.
    (void)GetHashProvider().Get();
    ERR_clear_error();
    // Only a verification against the message's own certificates is a function of the bytes
    // alone (see verification_cache.h); one against a store depends on the store's contents.
    auto& cache = carvix::card::VerificationCache::Instance();
    if (!store) {
        if (auto known = cache.Find(message)) {
            VerifiedMessage result;
            result.content = std::move(known->content);
            result.signatureValid = true;
            // A context of its own on the shared parsed certificate: properties set by one
            // caller are never seen by another.
            result.signer = x509::X509Certificate(known->signer.get());
            return result;
        }
    }
    if (message.empty()) {
        ParseFailure(kAsn1EndOfData);
    }
    const unsigned char* cursor = message.data();
    auto cms = OpenSsl::Own<CMS_ContentInfo_free>(
        d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(message.size())));
    if (cms == nullptr) {
        ParseFailure(DecodeFailureCode());
    }
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
        ParseFailure(kUnexpectedMsgType);
    }
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    if (signers == nullptr || sk_CMS_SignerInfo_num(signers) < 1) {
        ParseFailure(kNoSigner);
    }
    ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
    if (content == nullptr || *content == nullptr) {
        ParseFailure(kMessageError);
    }
    CMS_SignerInfo* first = sk_CMS_SignerInfo_value(signers, 0);
    x509::X509Certificate signer = FindSigner(cms.get(), first, store);
    if (signer.IsEmpty()) {
        ParseFailure(kSignerNotFound);
    }

    VerifiedMessage result;
    result.content.assign(ASN1_STRING_get0_data(*content),
                          ASN1_STRING_get0_data(*content) + ASN1_STRING_length(*content));
    result.signer = signer;

    // The signer's certificate is handed in explicitly; no other certificate of the message
    // is considered, and no chain is built. The stack takes a reference on the parsed
    // certificate: a duplicate would decode it, and its public key, once more.
    auto certs = OpenSsl::Own<OpenSsl::FreeCertificates>(sk_X509_new_null());
    X509* shared = signer.Handle();
    if (certs == nullptr || X509_up_ref(shared) != 1) {
        ParseFailure(kMessageError);
    }
    if (sk_X509_push(certs.get(), shared) <= 0) {
        X509_free(shared);
        ParseFailure(kMessageError);
    }
    auto sink = OpenSsl::Own<BIO_free>(BIO_new(BIO_s_null()));
    result.signatureValid = CMS_verify(cms.get(), certs.get(), nullptr, nullptr, sink.get(),
                                       CMS_NO_SIGNER_CERT_VERIFY | CMS_NOINTERN | CMS_BINARY) == 1;
    ERR_clear_error();
    if (!result.signatureValid) {
        throw CardException(u"PKCS7 structure has invalid signature");
    }
    if (!store) {
        cache.Remember(message, result.content, shared);
    }
    return result;
}

void ForgetVerifiedMessages() {
    carvix::card::VerificationCache::Instance().Clear();
}
