// Feeds arbitrary bytes to the PKCS#10 encoding and the request's PEM text. The input is a
// common name (UTF-16, any code units including lone surrogates), a public-key blob and a
// signature. Every structure encoded must be one well-formed DER element of exactly its own
// length, the subject must parse as a name, and the request text must give back the DER
// bytes and keep its lines within 64 characters.
#include "carvix/pki/certificate_request.h"
#include "carvix/support/base64.h"

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// One DER element that covers the bytes exactly.
void CheckElement(const Orvel::ByteArray& der, const char* what) {
    const unsigned char* p = der.data();
    long length = 0;
    int tag = 0;
    int cls = 0;
    const int flags = ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(der.size()));
    if ((flags & 0x80) != 0 || p + length != der.data() + der.size()) {
        Fail(what);
    }
}

void CheckText(const Orvel::ByteArray& der, bool headerFooter) {
    std::u16string text = carvix::pki::RequestText(der, headerFooter);
    const std::u16string header = u"-----BEGIN CERTIFICATE REQUEST-----\r\n";
    const std::u16string footer = u"\r\n-----END CERTIFICATE REQUEST-----";
    if (headerFooter) {
        if (!text.starts_with(header) || !text.ends_with(footer)) {
            Fail("request text without its header and footer");
        }
        text = text.substr(header.size(), text.size() - header.size() - footer.size());
    }
    std::u16string base64;
    std::size_t line = 0;
    for (const char16_t c : text) {
        if (c == u'\r' || c == u'\n') {
            line = 0;
            continue;
        }
        if (++line > 64) {
            Fail("a request text line longer than 64 characters");
        }
        base64 += c;
    }
    if (Orvel::FromBase64(base64) != der) {
        Fail("the request text does not give back its DER bytes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // [name length in code units] [name, little-endian] [split] [public key | signature]
    const std::size_t nameUnits = data[0] % 128;
    std::size_t pos = 1;
    std::u16string name;
    for (std::size_t i = 0; i < nameUnits && pos + 1 < size; ++i, pos += 2) {
        name += static_cast<char16_t>(data[pos] | (data[pos + 1] << 8));
    }
    const std::uint8_t split = pos < size ? data[pos++] : 0;
    const std::span<const std::uint8_t> rest(data + pos, size - pos);
    const std::size_t keySize = rest.empty() ? 0 : split % (rest.size() + 1);
    const auto key = rest.subspan(0, keySize);
    const auto signature = rest.subspan(keySize);

    const Orvel::ByteArray subject = carvix::pki::EncodeCommonNameSubject(name);
    CheckElement(subject, "the subject is not one DER element");
    // A name of whole characters must parse as a name (a lone surrogate is no character of a
    // BMPString, and OpenSSL refuses such a name; the encoding stays well-formed DER).
    bool whole = true;
    for (const char16_t unit : name) {
        whole = whole && (unit < 0xD800 || unit > 0xDFFF);
    }
    if (whole) {
        const unsigned char* p = subject.data();
        X509_NAME* parsed = d2i_X509_NAME(nullptr, &p, static_cast<long>(subject.size()));
        if (parsed == nullptr) {
            Fail("the subject does not parse as a name");
        }
        X509_NAME_free(parsed);
    }

    const Orvel::ByteArray info = carvix::pki::EncodeRequestInfo(name, key);
    CheckElement(info, "the request information is not one DER element");
    const Orvel::ByteArray request = carvix::pki::EncodeRequest(info, signature);
    CheckElement(request, "the request is not one DER element");
    CheckText(request, (split & 1) != 0);
    CheckText({rest.begin(), rest.end()}, (split & 2) != 0);
    return 0;
}
