// The private key behind a certificate's key-provider link, as an OpenSSL key.
#pragma once

#include "carvix/support/openssl_ptr.h"
#include "carvix/support/x509_certificate.h"

#include <openssl/evp.h>

namespace Orvel::Security::Cryptography::X509 {

using PrivateKey = OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free>;

/// Opens the key that the certificate's key-provider link names and checks that it belongs
/// to the certificate. Signing and decryption use only this function, so a new kind of link
/// needs no change to them. Today a link is the path of a PEM key file (without a passphrase:
/// nothing ever prompts on the terminal); a `pkcs11:` link is not supported yet.
/// Failures raise `Orvel::Win32Exception` "CryptAcquireCertificatePrivateKey" with
/// CRYPT_E_NO_KEY_PROPERTY (no link), NTE_NOT_SUPPORTED (a token key), NTE_BAD_KEYSET (the
/// file cannot be read), NTE_BAD_KEY (not a usable key) or NTE_BAD_PUBLIC_KEY (the key does
/// not belong to the certificate).
PrivateKey LoadPrivateKey(const X509Certificate& certificate);

}  // namespace Orvel::Security::Cryptography::X509
