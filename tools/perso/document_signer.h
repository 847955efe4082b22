// The test document signer: a certificate and its PEM private key, signing SOD contents as
// PKCS#7 SignedData (attached content, signer certificate included, no signed attributes).
#pragma once

#include "carvix/support/byte_array.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>

namespace carvix::perso {

class DocumentSigner {
  public:
    /// Reads a PEM (or DER) certificate and a PEM private key; PersoError when either cannot
    /// be read or they do not belong together.
    DocumentSigner(const std::filesystem::path& certificate, const std::filesystem::path& key);

    /// DER SignedData over `content`, SHA-256 with RSA.
    Orvel::ByteArray Sign(const Orvel::ByteArray& content) const;

  private:
    struct CertFree {
        void operator()(X509* x) const noexcept { X509_free(x); }
    };
    struct KeyFree {
        void operator()(EVP_PKEY* k) const noexcept { EVP_PKEY_free(k); }
    };
    std::unique_ptr<X509, CertFree> certificate_;
    std::unique_ptr<EVP_PKEY, KeyFree> key_;
};

}  // namespace carvix::perso
