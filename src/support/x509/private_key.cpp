#include "carvix/support/private_key.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/pkcs11_hresult.h"
#include "carvix/support/text.h"
#include "carvix/support/token_key.h"
#include "carvix/support/trace.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>

namespace Orvel::Security::Cryptography::X509 {
namespace {

constexpr const char* kOperation = "CryptAcquireCertificatePrivateKey";
constexpr std::uint32_t kNoKeyProperty = 0x8009200Bu;  // CRYPT_E_NO_KEY_PROPERTY
constexpr std::uint32_t kBadKeyset = 0x80090016u;      // NTE_BAD_KEYSET
constexpr std::uint32_t kBadKey = 0x80090003u;         // NTE_BAD_KEY
constexpr std::uint32_t kBadPublicKey = 0x80090015u;   // NTE_BAD_PUBLIC_KEY

[[noreturn]] void Fail(std::uint32_t code, const std::string& why) {
    ERR_clear_error();
    if (TraceEnabled()) {
        Trace(TraceLevel::Warning, u"Private key unavailable: " + Utf8ToUtf16(why));
    }
    throw Win32Exception(kOperation, code);
}

// A protected key file would need a passphrase; refusing it here keeps OpenSSL from asking
// for one on the terminal of whatever program hosts us.
int NoPassphrase(char*, int, int, void*) {
    return 0;
}

PrivateKey FromPemFile(const std::string& path) {
    auto file = OpenSsl::Own<BIO_free>(BIO_new_file(path.c_str(), "rb"));
    if (file == nullptr) {
        Fail(kBadKeyset, "cannot read the key file " + path);
    }
    PrivateKey key(PEM_read_bio_PrivateKey(file.get(), nullptr, NoPassphrase, nullptr));
    if (key == nullptr) {
        Fail(kBadKey, "no unprotected PEM private key in " + path);
    }
    return key;
}

// A key that stays on a token: the link names the token by label and the key by CKA_ID.
PrivateKey FromToken(const std::string& link) {
    const auto parsed = Pkcs11::ParseKeyLink(link);
    if (!parsed) {
        Fail(kBadKeyset, "not a usable pkcs11: key link (" + link + ")");
    }
    try {
        return Pkcs11::OpenTokenKey(*parsed);
    } catch (const Pkcs11::Error& e) {
        Fail(Pkcs11::HResultOf(e.Value()), e.what());
    }
}

}  // namespace

PrivateKey LoadPrivateKey(const X509Certificate& certificate) {
    const std::string link = certificate.KeyProviderLink();
    if (link.empty()) {
        Fail(kNoKeyProperty, "the certificate has no key link");
    }
    PrivateKey key = link.rfind("pkcs11:", 0) == 0 ? FromToken(link) : FromPemFile(link);
    if (X509_check_private_key(certificate.Handle(), key.get()) != 1) {
        Fail(kBadPublicKey, "the key in " + link + " does not belong to the certificate");
    }
    return key;
}

}  // namespace Orvel::Security::Cryptography::X509
