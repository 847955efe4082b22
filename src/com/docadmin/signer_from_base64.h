// The signer certificate that a write method is given as Base64 text.
#pragma once

#include "carvix/automation/types.h"
#include "carvix/support/x509_certificate.h"

namespace carvix::com {

/// Valid Base64 that is no certificate.
inline constexpr HRESULT kNotACertificate =
    static_cast<HRESULT>(0x8009310Bu);  // CRYPT_E_ASN1_BADTAG

/// The signer certificate from its Base64 text; empty text gives an empty certificate (the
/// user chooses one). S_OK, E_INVALIDARG for text that is not Base64 or decodes to nothing,
/// kNotACertificate for bytes that are no certificate.
HRESULT SignerFromBase64(BSTR text, Orvel::Security::Cryptography::X509::X509Certificate& signer);

}  // namespace carvix::com
