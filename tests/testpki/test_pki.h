// Throw-away keys, certificates and signed messages for unit tests, made in memory.
#pragma once

#include "carvix/support/openssl_ptr.h"

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace carvix::testpki {

using Bytes = std::vector<std::uint8_t>;

/// A key pair with a certificate, self-signed or issued by another identity.
struct Identity {
    Orvel::OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free> key;
    Orvel::OpenSsl::Ptr<X509, X509_free> certificate;
    Bytes Der() const;
    /// Writes the private key as PEM and returns the path.
    std::filesystem::path WriteKey(const std::filesystem::path& file) const;
};

/// An RSA-2048 identity with the common name given. `serial` picks the serial number;
/// `commentBytes` adds a comment extension of that size, for a certificate of a chosen bulk.
Identity MakeIdentity(const std::string& commonName, long serial = 1,
                      const Identity* issuer = nullptr, std::size_t commentBytes = 0);

enum class SignedAttributes { None, Default };

/// A DER SignedData message with attached content, signed with SHA-256, carrying the signer's
/// certificate unless `withCertificate` is false.
Bytes SignMessage(const Bytes& content, const Identity& signer,
                  SignedAttributes attributes = SignedAttributes::None,
                  bool withCertificate = true);

/// A fresh temporary folder removed by the destructor.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const noexcept { return path_; }

  private:
    std::filesystem::path path_;
};

/// Points XDG_DATA_HOME at a temporary folder for the life of the object, so that the
/// current user's certificate stores are private to one test.
class PrivateStores {
  public:
    PrivateStores();
    ~PrivateStores();
    PrivateStores(const PrivateStores&) = delete;
    PrivateStores& operator=(const PrivateStores&) = delete;
    std::filesystem::path StoreFolder(const std::string& name) const;

  private:
    TempFolder folder_;
    std::string saved_;
    bool hadValue_ = false;
};

}  // namespace carvix::testpki
