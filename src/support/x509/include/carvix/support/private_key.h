// The private key behind a certificate's key-provider link, as an OpenSSL key.
#pragma once

#include "carvix/support/openssl_ptr.h"
#include "carvix/support/x509_certificate.h"

#include <openssl/evp.h>

namespace Orvel::Security::Cryptography::X509 {

using PrivateKey = OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free>;

/// Opens the key that the certificate's key-provider link names and checks that it belongs
/// to the certificate. Signing and decryption use only this function, so a new kind of link
/// needs no change to them. A link is the path of a PEM key file (without a passphrase:
/// nothing ever prompts on the terminal for it) or a `pkcs11:` URI naming a token by label
/// and a key by CKA_ID; a token key stays on the token (token_key.h) and logging in to it
/// asks the host's PIN prompt.
/// Failures raise `Orvel::Win32Exception` "CryptAcquireCertificatePrivateKey" with
/// CRYPT_E_NO_KEY_PROPERTY (no link), NTE_BAD_KEYSET (the file cannot be read, or an unusable
/// `pkcs11:` link), NTE_BAD_KEY (not a usable key), NTE_BAD_PUBLIC_KEY (the key does not
/// belong to the certificate) or, for a token, the code of the PKCS#11 failure
/// (pkcs11_hresult.h: a wrong PIN is SCARD_W_WRONG_CHV, a cancelled prompt
/// SCARD_W_CANCELLED_BY_USER, a missing token SCARD_E_NO_SMARTCARD).
PrivateKey LoadPrivateKey(const X509Certificate& certificate);

}  // namespace Orvel::Security::Cryptography::X509
