// PKCS#10 certificate requests for a key container's key pair: version 0, a subject of one
// common name as BMPString, the pair's public key, no attributes, SHA-1 with RSA signed on
// the token; as Base64 text in lines of 64 characters joined by CR LF.
#pragma once

#include "carvix/pki/key_container.h"
#include "carvix/support/byte_array.h"

#include <span>
#include <string>
#include <string_view>

namespace carvix::pki {

/// The DER subject: one RDN with one common name, a BMPString of the UTF-16 code units.
Orvel::ByteArray EncodeCommonNameSubject(std::u16string_view commonName);

/// The DER CertificationRequestInfo.
Orvel::ByteArray EncodeRequestInfo(std::u16string_view commonName,
                                   std::span<const std::uint8_t> publicKeyInfo);

/// The DER CertificationRequest from its signed information and the signature.
Orvel::ByteArray EncodeRequest(std::span<const std::uint8_t> requestInfo,
                               std::span<const std::uint8_t> signature);

/// The DER request for the container's pair of `keySpec`, signed on the token.
Orvel::ByteArray CreateCertificateRequest(KeyContainer& container, std::uint32_t keySpec,
                                          std::u16string_view commonName);

/// CR LF after every 64 characters, none at the end of the text.
std::u16string BreakIntoLines(std::u16string_view base64);

/// The request text: Base64 in lines, with the "CERTIFICATE REQUEST" header and footer when
/// `headerFooter`.
std::u16string RequestText(std::span<const std::uint8_t> der, bool headerFooter);

}  // namespace carvix::pki
