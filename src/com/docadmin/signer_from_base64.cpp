#include "docadmin/signer_from_base64.h"

#include "carvix/automation/oleauto.h"
#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"

#include <string_view>

namespace carvix::com {

namespace x509 = Orvel::Security::Cryptography::X509;

/// The signer certificate from its Base64 text; empty text gives an empty certificate (the
/// user chooses one). S_OK, E_INVALIDARG for text that is not Base64 or decodes to nothing,
/// kNotACertificate for bytes that are no certificate.
HRESULT SignerFromBase64(BSTR text, x509::X509Certificate& signer) {
    const std::u16string_view b64(text == nullptr ? u"" : text, SysStringLen(text));
    if (b64.empty()) {
        return S_OK;
    }
    Orvel::ByteArray der;
    try {
        der = Orvel::FromBase64(b64);
    } catch (const Orvel::ArgumentException&) {
        return E_INVALIDARG;
    }
    if (der.empty()) {
        return E_INVALIDARG;
    }
    try {
        signer = x509::X509Certificate(std::span<const std::uint8_t>(der.data(), der.size()));
    } catch (const Orvel::Win32Exception&) {
        return kNotACertificate;
    }
    return S_OK;
}

}  // namespace carvix::com
