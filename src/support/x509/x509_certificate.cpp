#include "carvix/support/x509_certificate.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/string_table.h"
#include "carvix/support/text.h"
#include "certificate_context.h"
#include "win32_codes.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>

namespace Orvel::Security::Cryptography::X509 {
namespace {

constexpr std::uint32_t kNotInitialized = 21702;

const detail::CertificateContext& Require(const std::shared_ptr<detail::CertificateContext>& c) {
    if (c == nullptr) {
        throw X509Exception(LoadString(kNotInitialized));
    }
    return *c;
}

std::shared_ptr<detail::CertificateContext> ContextFromDer(std::span<const std::uint8_t> der) {
    if (der.empty()) {
        throw Win32Exception("CertCreateCertificateContext", detail::kEInvalidArg);
    }
    const unsigned char* p = der.data();
    auto parsed = OpenSsl::Own<X509_free>(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    // Trailing bytes after the certificate are refused like a bad tag.
    if (parsed == nullptr || p != der.data() + der.size()) {
        throw Win32Exception("CertCreateCertificateContext", detail::kCryptEAsn1BadTag);
    }
    auto context = std::make_shared<detail::CertificateContext>();
    context->certificate = std::move(parsed);
    context->der.assign(der.begin(), der.end());
    return context;
}

}  // namespace

X509Certificate::X509Certificate() noexcept = default;

X509Certificate::X509Certificate(std::span<const std::uint8_t> der)
    : context_(ContextFromDer(der)) {}

X509Certificate::X509Certificate(::X509* certificate) {
    if (certificate == nullptr) {
        return;
    }
    unsigned char* out = nullptr;
    int length = i2d_X509(certificate, &out);
    if (length <= 0) {
        throw Win32Exception("CertCreateCertificateContext", detail::kCryptEAsn1BadTag);
    }
    // A new context of its own, but sharing the already parsed certificate: parsing the DER
    // again would decode the public key a second time, the dearest step of a verification.
    auto context = std::make_shared<detail::CertificateContext>();
    context->der.assign(out, out + length);
    OPENSSL_free(out);
    X509_up_ref(certificate);
    context->certificate.reset(certificate);
    context_ = std::move(context);
}

X509Certificate::~X509Certificate() = default;
X509Certificate::X509Certificate(const X509Certificate&) noexcept = default;
X509Certificate& X509Certificate::operator=(const X509Certificate&) noexcept = default;
X509Certificate::X509Certificate(X509Certificate&&) noexcept = default;
X509Certificate& X509Certificate::operator=(X509Certificate&&) noexcept = default;

bool X509Certificate::Equals(const X509Certificate& other) const {
    const auto& mine = Require(context_);
    const auto& theirs = Require(other.context_);
    return X509_issuer_and_serial_cmp(mine.certificate.get(), theirs.certificate.get()) == 0;
}

bool X509Certificate::HasPrivateKey() const {
    const auto& context = Require(context_);
    std::lock_guard lock(context.lock);
    return !context.keyProviderLink.empty();
}

ByteArray X509Certificate::RawData() const {
    return Require(context_).der;
}

std::string X509Certificate::KeyProviderLink() const {
    if (context_ == nullptr) {
        return {};
    }
    std::lock_guard lock(context_->lock);
    return context_->keyProviderLink;
}

void X509Certificate::SetKeyProviderLink(std::string link) {
    Require(context_);
    std::lock_guard lock(context_->lock);
    context_->keyProviderLink = std::move(link);
}

std::string X509Certificate::Thumbprint() const {
    const auto& context = Require(context_);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(context.der.data(), context.der.size(), digest, &length, EVP_sha1(), nullptr) !=
        1) {
        throw Win32Exception("CertGetCertificateContextProperty", detail::kErrorInvalidParameter);
    }
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", digest[i]);
        hex += pair;
    }
    return hex;
}

std::u16string X509Certificate::Subject() const {
    const auto& context = Require(context_);
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr) {
        return {};
    }
    X509_NAME_print_ex(bio, X509_get_subject_name(context.certificate.get()), 0,
                       XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::u16string text = Utf8ToUtf16(std::string_view(data, static_cast<std::size_t>(length)));
    BIO_free(bio);
    return text;
}

::X509* X509Certificate::Handle() const noexcept {
    return context_ == nullptr ? nullptr : context_->certificate.get();
}

const X509Certificate& X509CertificateCollection::operator[](std::size_t index) const {
    if (index >= items_.size()) {
        throw ArgumentOutOfRangeException(u"index");
    }
    return items_[index];
}

}  // namespace Orvel::Security::Cryptography::X509
