// Owning wrappers around X.509 certificates and ordered lists of them.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

typedef struct x509_st X509;

namespace Orvel::Security::Cryptography::X509 {

namespace detail {
struct CertificateContext;
}

/// One certificate context, or none. A context holds the parsed certificate, its DER bytes
/// and its properties (the key-provider link). Copies share the context, the way duplicated
/// platform contexts do: a property set through one copy is seen by every copy.
class X509Certificate {
  public:
    /// An empty certificate.
    X509Certificate() noexcept;
    /// Parses DER bytes. Bad bytes raise `Orvel::Win32Exception` "CertCreateCertificateContext".
    explicit X509Certificate(std::span<const std::uint8_t> der);
    /// Takes a reference on an OpenSSL certificate (the caller keeps its own).
    explicit X509Certificate(::X509* certificate);
    ~X509Certificate();
    X509Certificate(const X509Certificate&) noexcept;
    X509Certificate& operator=(const X509Certificate&) noexcept;
    X509Certificate(X509Certificate&&) noexcept;
    X509Certificate& operator=(X509Certificate&&) noexcept;

    bool IsEmpty() const noexcept { return context_ == nullptr; }
    /// Same issuer and serial number. Both sides must be non-empty (X509Exception 21702).
    bool Equals(const X509Certificate& other) const;
    /// True when the key-provider link is set and not empty (X509Exception 21702 when empty).
    bool HasPrivateKey() const;
    /// A copy of the DER bytes (X509Exception 21702 when empty).
    ByteArray RawData() const;

    /// Where the private key is: a `pkcs11:` URI or the path of a PEM key file; empty when
    /// the certificate has no key. Store certificates carry it; certificates made from bytes
    /// do not.
    std::string KeyProviderLink() const;
    void SetKeyProviderLink(std::string link);
    /// The SHA-1 thumbprint in upper-case hexadecimal (the file name in a store).
    std::string Thumbprint() const;
    /// The subject as one line ("CN=..., O=..."), UTF-16.
    std::u16string Subject() const;
    /// The OpenSSL certificate, owned by this context; null when empty.
    ::X509* Handle() const noexcept;

  private:
    std::shared_ptr<detail::CertificateContext> context_;
};

/// An ordered list of certificates; adding copies (duplicates) the certificate.
class X509CertificateCollection {
  public:
    void Add(const X509Certificate& certificate) { items_.push_back(certificate); }
    std::size_t Count() const noexcept { return items_.size(); }
    bool Empty() const noexcept { return items_.empty(); }
    /// Throws `Orvel::ArgumentOutOfRangeException` for an index past the end.
    const X509Certificate& operator[](std::size_t index) const;
    auto begin() const noexcept { return items_.begin(); }
    auto end() const noexcept { return items_.end(); }

  private:
    std::vector<X509Certificate> items_;
};

}  // namespace Orvel::Security::Cryptography::X509
