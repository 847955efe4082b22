#include "carvix/card/user_signing.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/openssl_ptr.h"
#include "carvix/support/private_key.h"
#include "user_store.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>

namespace x509 = Orvel::Security::Cryptography::X509;
namespace OpenSsl = Orvel::OpenSsl;

namespace {

// The codes the message functions of the original platform report for these cases.
constexpr std::uint32_t kAsn1EndOfData = 0x80093102u;      // CRYPT_E_ASN1_EOD
constexpr std::uint32_t kAsn1BadTag = 0x8009310Bu;         // CRYPT_E_ASN1_BADTAG
constexpr std::uint32_t kUnexpectedMsgType = 0x8009200Au;  // CRYPT_E_UNEXPECTED_MSG_TYPE
constexpr std::uint32_t kNoDecryptCert = 0x8009200Cu;      // CRYPT_E_NO_DECRYPT_CERT
constexpr std::uint32_t kBadData = 0x80090005u;            // NTE_BAD_DATA

using Message = OpenSsl::Ptr<CMS_ContentInfo, CMS_ContentInfo_free>;

[[noreturn]] void DecryptionFailed(std::uint32_t code) {
    ERR_clear_error();
    throw CardException(u"Unable to decrypt data", static_cast<std::int32_t>(code));
}

Message Parse(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        DecryptionFailed(kAsn1EndOfData);
    }
    const unsigned char* cursor = bytes.data();
    Message message(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(bytes.size())));
    if (message == nullptr) {
        DecryptionFailed(kAsn1BadTag);
    }
    if (OBJ_obj2nid(CMS_get0_type(message.get())) != NID_pkcs7_enveloped) {
        DecryptionFailed(kUnexpectedMsgType);
    }
    return message;
}

bool IsAddressedTo(CMS_ContentInfo* message, const x509::X509Certificate& certificate) {
    STACK_OF(CMS_RecipientInfo)* recipients = CMS_get0_RecipientInfos(message);
    for (int i = 0; recipients != nullptr && i < sk_CMS_RecipientInfo_num(recipients); ++i) {
        CMS_RecipientInfo* recipient = sk_CMS_RecipientInfo_value(recipients, i);
        if (CMS_RecipientInfo_type(recipient) == CMS_RECIPINFO_TRANS &&
            CMS_RecipientInfo_ktri_cert_cmp(recipient, certificate.Handle()) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

Orvel::ByteArray DecryptMessage(std::span<const std::uint8_t> bytes) {
    const Message checked = Parse(bytes);
    std::uint32_t failure = kNoDecryptCert;
    for (const auto& certificate : carvix::card::UserCertificates(u"My")) {
        if (!certificate.HasPrivateKey() || !IsAddressedTo(checked.get(), certificate)) {
            continue;
        }
        x509::PrivateKey key;
        try {
            key = x509::LoadPrivateKey(certificate);
        } catch (const Orvel::Win32Exception& e) {
            failure = e.Code();  // another certificate of the user may still be addressed
            continue;
        }
        // A fresh copy of the message for each attempt: a failed one may leave key state in it.
        const Message message = Parse(bytes);
        auto plain = OpenSsl::Own<BIO_free>(BIO_new(BIO_s_mem()));
        if (plain != nullptr && CMS_decrypt(message.get(), key.get(), certificate.Handle(), nullptr,
                                            plain.get(), CMS_BINARY) == 1) {
            char* data = nullptr;
            const long length = BIO_get_mem_data(plain.get(), &data);
            ERR_clear_error();
            return Orvel::ByteArray(data, data + length);
        }
        ERR_clear_error();
        failure = kBadData;
    }
    DecryptionFailed(failure);
}
