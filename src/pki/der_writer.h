// The few DER encodings the certificate request needs, written by hand so that every byte
// of the request is the one we mean.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstdint>
#include <initializer_list>
#include <span>

namespace carvix::pki::der {

/// Tag, definite length, content.
inline Orvel::ByteArray Element(std::uint8_t tag, std::span<const std::uint8_t> content) {
    Orvel::ByteArray out{tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else {
        std::uint8_t bytes[8];
        int count = 0;
        for (std::size_t v = n; v != 0; v >>= 8) {
            bytes[count++] = static_cast<std::uint8_t>(v & 0xFF);
        }
        out.push_back(static_cast<std::uint8_t>(0x80 | count));
        while (count > 0) {
            out.push_back(bytes[--count]);
        }
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Orvel::ByteArray Concat(std::initializer_list<Orvel::ByteArray> parts) {
    Orvel::ByteArray out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline Orvel::ByteArray Sequence(std::initializer_list<Orvel::ByteArray> parts) {
    return Element(0x30, Concat(parts));
}

/// A non-negative INTEGER from big-endian magnitude bytes.
inline Orvel::ByteArray UnsignedInteger(std::span<const std::uint8_t> magnitude) {
    std::size_t start = 0;
    while (start + 1 < magnitude.size() && magnitude[start] == 0) {
        ++start;
    }
    Orvel::ByteArray content;
    if (magnitude.empty() || (magnitude[start] & 0x80) != 0) {
        content.push_back(0);
    }
    content.insert(content.end(), magnitude.begin() + static_cast<std::ptrdiff_t>(start),
                   magnitude.end());
    return Element(0x02, content);
}

inline Orvel::ByteArray BitString(std::span<const std::uint8_t> bytes) {
    Orvel::ByteArray content{0x00};
    content.insert(content.end(), bytes.begin(), bytes.end());
    return Element(0x03, content);
}

inline Orvel::ByteArray Null() {
    return {0x05, 0x00};
}

// 1.2.840.113549.1.1.1 rsaEncryption
inline constexpr std::uint8_t kRsaEncryption[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                  0xF7, 0x0D, 0x01, 0x01, 0x01};
// 1.2.840.113549.1.1.5 sha1WithRSAEncryption
inline constexpr std::uint8_t kSha1WithRsa[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                                0xF7, 0x0D, 0x01, 0x01, 0x05};
// 2.5.4.3 commonName
inline constexpr std::uint8_t kCommonName[] = {0x06, 0x03, 0x55, 0x04, 0x03};

inline Orvel::ByteArray Bytes(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

/// SubjectPublicKeyInfo of an RSA public key, as the provider exports it.
inline Orvel::ByteArray RsaPublicKeyInfo(std::span<const std::uint8_t> modulus,
                                         std::span<const std::uint8_t> exponent) {
    const Orvel::ByteArray key = Sequence({UnsignedInteger(modulus), UnsignedInteger(exponent)});
    return Sequence({Sequence({Bytes(kRsaEncryption), Null()}), BitString(key)});
}

}  // namespace carvix::pki::der
