// The test document signer: a certificate and its PEM private key, signing SOD contents as
// PKCS#7 SignedData (attached content, signer certificate included, no signed attributes).
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/openssl_ptr.h"

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

    /// DER SignedData over `content`, SHA-256 with RSA; without the signer's certificate in
    /// the message when `includeCertificate` is false.
    Orvel::ByteArray Sign(const Orvel::ByteArray& content, bool includeCertificate = true) const;

  private:
    Orvel::OpenSsl::Ptr<X509, X509_free> certificate_;
    Orvel::OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free> key_;
};

}  // namespace carvix::perso
