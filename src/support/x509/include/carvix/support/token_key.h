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

/// The modules a key link names (every registered module when it names none).
ModuleChoice ModulesOf(const KeyLink& link);

/// The token a key link names, by label and, when the link has one, serial number, among
/// the tokens of the modules the link names; Error CKR_TOKEN_NOT_PRESENT when none is.
Token FindToken(const KeyLink& link);

/// An RSA key whose private operations (PKCS#1 v1.5 and raw, hence PSS and OAEP too) run on
/// the token through C_Sign / C_Decrypt; the key keeps its logged-in session open until it
/// is freed. The session logs in first (the host's PIN prompt or the PIN pad). Only the module
/// the link names is loaded. Raises Error.
OpenSsl::Ptr<EVP_PKEY, EVP_PKEY_free> OpenTokenKey(const KeyLink& link);

/// The key link of the object with CKA_ID `id` on a token: label, serial number and the
/// module's file, so that using the key loads that module alone.
KeyLink LinkTo(const Token& token, const ByteArray& id);

/// Which tokens to take certificates from: the modules to load (by default every registered
/// module), and optionally a token label and serial number.
struct TokenChoice {
    ModuleChoice modules;
    std::string label;
    std::string serial;
};

/// The X.509 certificates of the chosen tokens that also hold a key with the certificate's
/// CKA_ID (public or private object, visible without login), each with the `pkcs11:` link
/// to its private key. Loads the chosen modules: used when the user imports token
/// certificates, never to list a store. Tokens that cannot be read are skipped; a module
/// that cannot be loaded raises Error.
std::vector<Security::Cryptography::X509::X509Certificate> TokenCertificates(
    const TokenChoice& choice);

}  // namespace Orvel::Pkcs11
