// Private keys that stay on a PKCS#11 token, used through OpenSSL, and the certificates of
// the tokens that carry such keys.
#pragma once

#include "carvix/support/openssl_ptr.h"
#include "carvix/support/pkcs11_token.h"
#include "carvix/support/pkcs11_uri.h"
#include "carvix/support/x509_certificate.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

namespace Orvel::Pkcs11 {

/// The token whose label is `label`; Error CKR_TOKEN_NOT_PRESENT when none is.
Token FindTokenByLabel(const std::string& label);

/// An RSA key whose private operations (PKCS#1 v1.5 and raw, hence PSS and OAEP too) run on
/// the token through C_Sign / C_Decrypt; the key keeps its logged-in session open until it
/// is freed. The session logs in first (the host's PIN prompt or the PIN pad). Raises Error.
OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free> OpenTokenKey(const KeyLink& link);

/// The X.509 certificates of every token that also holds a key with the certificate's
/// CKA_ID (public or private object, visible without login), each with the `pkcs11:` link
/// to its private key. Tokens that cannot be read are skipped: this never fails.
std::vector<Security::Cryptography::X509::X509Certificate> TokenCertificates();

}  // namespace Orvel::Pkcs11
