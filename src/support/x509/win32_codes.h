// Platform error codes that the certificate wrappers report, as the stores of the original
// platform report them, so that callers can tell the cases apart.
#pragma once

#include <cstdint>

namespace Orvel::Security::Cryptography::X509::detail {

inline constexpr std::uint32_t kErrorFileNotFound = 2;           // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorFileExists = 80;            // ERROR_FILE_EXISTS
inline constexpr std::uint32_t kErrorInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kErrorWriteFault = 29;            // ERROR_WRITE_FAULT
inline constexpr std::uint32_t kEInvalidArg = 0x80070057u;       // E_INVALIDARG
inline constexpr std::uint32_t kCryptENotFound = 0x80092004u;    // CRYPT_E_NOT_FOUND
inline constexpr std::uint32_t kCryptEExists = 0x80092005u;      // CRYPT_E_EXISTS
inline constexpr std::uint32_t kCryptEAsn1BadTag = 0x8009310Bu;  // CRYPT_E_ASN1_BADTAG

}  // namespace Orvel::Security::Cryptography::X509::detail
