#include "carvix/pki/certificate_request.h"

#include "der_writer.h"

#include "carvix/support/base64.h"

namespace carvix::pki {

using Orvel::ByteArray;

ByteArray EncodeCommonNameSubject(std::u16string_view commonName) {
    ByteArray units;
    units.reserve(commonName.size() * 2);
    for (char16_t unit : commonName) {
        units.push_back(static_cast<std::uint8_t>(unit >> 8));
        units.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    const ByteArray attribute =
        der::Sequence({der::Bytes(der::kCommonName), der::Element(0x1E, units)});
    return der::Sequence({der::Element(0x31, attribute)});
}

ByteArray EncodeRequestInfo(std::u16string_view commonName,
                            std::span<const std::uint8_t> publicKeyInfo) {
    const std::uint8_t zero[] = {0x00};
    return der::Sequence({der::UnsignedInteger(zero), EncodeCommonNameSubject(commonName),
                          der::Bytes(publicKeyInfo), der::Element(0xA0, {})});
}

ByteArray EncodeRequest(std::span<const std::uint8_t> requestInfo,
                        std::span<const std::uint8_t> signature) {
    return der::Sequence({der::Bytes(requestInfo),
                          der::Sequence({der::Bytes(der::kSha1WithRsa), der::Null()}),
                          der::BitString(signature)});
}

ByteArray CreateCertificateRequest(KeyContainer& container, std::uint32_t keySpec,
                                   std::u16string_view commonName) {
    const ByteArray info = EncodeRequestInfo(commonName, container.PublicKeyInfo(keySpec));
    return EncodeRequest(info, container.SignSha1(keySpec, info));
}

std::u16string BreakIntoLines(std::u16string_view base64) {
    std::u16string text;
    text.reserve(base64.size() + base64.size() / 32 + 2);
    for (std::size_t i = 0; i < base64.size(); i += 64) {
        if (i != 0) {
            text += u"\r\n";
        }
        text += base64.substr(i, 64);
    }
    return text;
}

std::u16string RequestText(std::span<const std::uint8_t> der, bool headerFooter) {
    std::u16string text = BreakIntoLines(Orvel::ToBase64(der));
    if (headerFooter) {
        text = u"-----BEGIN CERTIFICATE REQUEST-----\r\n" + text +
               u"\r\n-----END CERTIFICATE REQUEST-----";
    }
    return text;
}

}  // namespace carvix::pki
