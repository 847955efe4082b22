// The choice of a token's signing or encryption certificate: enumerate the containers of
// the reader's token, keep each one's certificate for the key usage, and let the
// user pick when more than one qualifies.
#pragma once

#include "carvix/support/x509_certificate.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace carvix::pki {

/// Container names longer than this many bytes (the 40-byte buffer with its terminator)
/// end the enumeration.
inline constexpr std::size_t kLongestContainerName = 39;
/// Certificates larger than this are skipped.
inline constexpr std::size_t kLargestCertificate = 8192;
/// The temporary current-user store that holds the certificates on offer.
inline constexpr std::u16string_view kSelectionStore = u"TempStore$VLCard";

/// The certificate the user chose, none when the user cancelled; ProviderError
/// SCARD_E_NO_SUCH_CERTIFICATE when no container holds one, the provider's code when the
/// reader's token cannot be acquired, NTE_FAIL for a failure of the temporary store (which
/// is removed on every path).
std::optional<Orvel::Security::Cryptography::X509::X509Certificate> SelectCardCertificate(
    std::u16string_view readerName, std::uint32_t keySpec);

}  // namespace carvix::pki
