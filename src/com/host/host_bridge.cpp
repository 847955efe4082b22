#include "host_bridge.h"

#include "carvix/automation/host_hooks.h"
#include "carvix/support/card_wait.h"
#include "carvix/support/text.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace carvix::com {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;

std::u16string Issuer(const x509::X509Certificate& certificate) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr) {
        return {};
    }
    X509_NAME_print_ex(bio, X509_get_issuer_name(certificate.Handle()), 0,
                       XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::u16string text =
        Orvel::Utf8ToUtf16(std::string_view(data, static_cast<std::size_t>(length)));
    BIO_free(bio);
    return text;
}

std::u16string NotAfter(const x509::X509Certificate& certificate) {
    std::tm t{};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(certificate.Handle()), &t) != 1) {
        return {};
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return Orvel::Utf8ToUtf16(text);
}

// The texts and bytes behind one offer; the offer points into them.
struct Described {
    std::u16string subject;
    std::u16string issuer;
    std::u16string notAfter;
    std::u16string thumbprint;
    Orvel::ByteArray der;
};

}  // namespace

std::optional<std::size_t> AskHostChooser(const x509::CertificateChoice& choice) {
    try {
        std::vector<Described> described;
        described.reserve(choice.offered.size());
        for (const auto& certificate : choice.offered) {
            described.push_back({certificate.Subject(), Issuer(certificate), NotAfter(certificate),
                                 Orvel::Utf8ToUtf16(certificate.Thumbprint()),
                                 certificate.RawData()});
        }
        std::vector<CarvixCertificateOffer> offers;
        offers.reserve(described.size());
        for (std::size_t i = 0; i < described.size(); ++i) {
            const Described& d = described[i];
            const bool selected =
                i < choice.initiallySelected.size() && choice.initiallySelected[i];
            offers.push_back({d.subject.c_str(), d.issuer.c_str(), d.notAfter.c_str(),
                              d.thumbprint.c_str(), d.der.data(),
                              static_cast<std::uint32_t>(d.der.size()), selected ? 1 : 0});
        }
        std::uint32_t chosen = 0;
        if (CarvixChooseCertificate(choice.title.c_str(), choice.displayText.c_str(), offers.data(),
                                    static_cast<std::uint32_t>(offers.size()), &chosen) == 0) {
            return std::nullopt;
        }
        return chosen;
    } catch (...) {
        // A certificate that cannot be described cannot be offered: a cancel, which the
        // signing step reports as a missing signing certificate.
        return std::nullopt;
    }
}

void BridgeCertificateChooser() {
    x509::SetCertificateChooser(&AskHostChooser);
}

bool AskHostPin(const std::u16string& tokenLabel, Orvel::Pkcs11::SecretText& pin) {
    constexpr std::uint32_t kCapacity = 256;
    char buffer[kCapacity];
    std::uint32_t length = 0;
    const bool entered = CarvixAskPin(tokenLabel.c_str(), buffer, kCapacity, &length) != 0;
    if (entered) {
        pin.Assign(buffer, length);
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
    return entered;
}

void BridgePinPrompt() {
    Orvel::Pkcs11::SetPinPrompt(&AskHostPin);
}

void BridgeCardWaitLimit() {
    Orvel::PCSC::SetCardWaitLimitSource(&CarvixCardWaitLimit);
}

}  // namespace carvix::com
