#include "carvix/card/signed_message.h"

#include "carvix/card/hash.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/openssl_ptr.h"
#include "carvix/support/text.h"
#include "carvix/support/x509_store.h"

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

std::vector<x509::X509Certificate> CandidatesFrom(CMS_ContentInfo* cms,
                                                  const std::optional<SignerStore>& store) {
    std::vector<x509::X509Certificate> candidates;
    if (store) {
        x509::X509Store opened(store->location, store->name.empty() ? u"My" : store->name);
        try {
            opened.Open(x509::kStoreReadOnly);
        } catch (const Orvel::Exception&) {
            return candidates;  // an unreadable store holds no signer
        }
        for (const auto& certificate : opened.Certificates()) {
            candidates.push_back(certificate);
        }
        return candidates;
    }
    auto carried = OpenSsl::Own<OpenSsl::FreeCertificates>(CMS_get1_certs(cms));
    for (int i = 0; carried != nullptr && i < sk_X509_num(carried.get()); ++i) {
        candidates.emplace_back(sk_X509_value(carried.get(), i));
    }
    return candidates;
}

}  // namespace

VerifiedMessage VerifySignedMessage(std::span<const std::uint8_t> message,
                                    const std::optional<SignerStore>& store) {
    // The message digests and the signature use OpenSSL's own SHA-256; acquiring the provider
    // first keeps the failure rule of the hash provider for verifications too.
    (void)GetHashProvider().Get();
    ERR_clear_error();
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
    x509::X509Certificate signer;
    for (const auto& candidate : CandidatesFrom(cms.get(), store)) {
        if (CMS_SignerInfo_cert_cmp(first, candidate.Handle()) == 0) {
            signer = candidate;
            break;
        }
    }
    if (signer.IsEmpty()) {
        ParseFailure(kSignerNotFound);
    }

    VerifiedMessage result;
    result.content.assign(ASN1_STRING_get0_data(*content),
                          ASN1_STRING_get0_data(*content) + ASN1_STRING_length(*content));
    result.signer = signer;

    // The signer's certificate is handed in explicitly; no other certificate of the message
    // is considered, and no chain is built.
    auto certs = OpenSsl::Own<OpenSsl::FreeCertificates>(sk_X509_new_null());
    X509* copy = X509_dup(signer.Handle());
    if (certs == nullptr || copy == nullptr || sk_X509_push(certs.get(), copy) <= 0) {
        X509_free(copy);
        ParseFailure(kMessageError);
    }
    auto sink = OpenSsl::Own<BIO_free>(BIO_new(BIO_s_null()));
    result.signatureValid = CMS_verify(cms.get(), certs.get(), nullptr, nullptr, sink.get(),
                                       CMS_NO_SIGNER_CERT_VERIFY | CMS_NOINTERN | CMS_BINARY) == 1;
    ERR_clear_error();
    if (!result.signatureValid) {
        throw CardException(u"PKCS7 structure has invalid signature");
    }
    return result;
}
