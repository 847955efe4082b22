#include "host_bridge.h"

#include "carvix/automation/host_hooks.h"
#include "carvix/support/card_wait.h"

#include "carvix/support/pkcs11_uri.h"
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

// A validity bound as "YYYY-MM-DD HH:MM:SS" in UTC; empty when it cannot be read.
std::u16string TimeText(const ASN1_TIME* time) {
    std::tm t{};
    if (ASN1_TIME_to_tm(time, &t) != 1) {
        return {};
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return Orvel::Utf8ToUtf16(text);
}

// The texts and bytes behind one offer and its details; both point into them.
struct Described {
    std::u16string subject;
    std::u16string issuer;
    std::u16string notAfter;
    std::u16string thumbprint;
    Orvel::ByteArray der;
    std::u16string notBefore;
    std::uint32_t keyKind = CARVIX_KEY_UNKNOWN;
    std::u16string keyStore;
};

// Where the certificate's key is: a token (its label) for a `pkcs11:` link, else a file.
void DescribeKey(const x509::X509Certificate& certificate, Described& d) {
    const std::string link = certificate.KeyProviderLink();
    if (link.empty()) {
        return;
    }
    if (const auto token = Orvel::Pkcs11::ParseKeyLink(link)) {
        d.keyKind = CARVIX_KEY_TOKEN;
        d.keyStore = Orvel::Utf8ToUtf16(token->token);
    } else if (link.rfind("pkcs11:", 0) != 0) {
        d.keyKind = CARVIX_KEY_FILE;
        d.keyStore = Orvel::Utf8ToUtf16(link);
    }
}

}  // namespace

std::optional<std::size_t> AskHostChooser(const x509::CertificateChoice& choice) {
    try {
        std::vector<Described> described;
        described.reserve(choice.offered.size());
        for (const auto& certificate : choice.offered) {
            Described d{certificate.Subject(),
                        Issuer(certificate),
                        TimeText(X509_get0_notAfter(certificate.Handle())),
                        Orvel::Utf8ToUtf16(certificate.Thumbprint()),
                        certificate.RawData(),
                        TimeText(X509_get0_notBefore(certificate.Handle())),
                        CARVIX_KEY_UNKNOWN,
                        {}};
            DescribeKey(certificate, d);
            described.push_back(std::move(d));
        }
        std::vector<CarvixCertificateOffer> offers;
        std::vector<CarvixCertificateDetails> details;
        offers.reserve(described.size());
        details.reserve(described.size());
        for (std::size_t i = 0; i < described.size(); ++i) {
            const Described& d = described[i];
            const bool selected =
                i < choice.initiallySelected.size() && choice.initiallySelected[i];
            offers.push_back({d.subject.c_str(), d.issuer.c_str(), d.notAfter.c_str(),
                              d.thumbprint.c_str(), d.der.data(),
                              static_cast<std::uint32_t>(d.der.size()), selected ? 1 : 0});
            details.push_back({d.notBefore.c_str(), d.keyKind, d.keyStore.c_str()});
        }
        std::uint32_t chosen = 0;
        if (CarvixChooseCertificateWithDetails(
                choice.title.c_str(), choice.displayText.c_str(), offers.data(), details.data(),
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

bool AskHostPin(const Orvel::Pkcs11::PinRequest& request, Orvel::Pkcs11::SecretText& pin) {
    constexpr std::uint32_t kCapacity = 256;
    char buffer[kCapacity];
    std::uint32_t length = 0;
    // The token's PinState bits are the CARVIX_PIN_* bits.
    const bool entered = CarvixAskPinWithState(request.tokenLabel.c_str(), request.triesLeft,
                                               request.state, buffer, kCapacity, &length) != 0;
    if (entered) {
        pin.Assign(buffer, length);
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
    return entered;
}

bool AskHostPin(const std::u16string& tokenLabel, Orvel::Pkcs11::SecretText& pin) {
    return AskHostPin(Orvel::Pkcs11::PinRequest{tokenLabel, -1, 0}, pin);
}

void BridgePinPrompt() {
    static_assert(Orvel::Pkcs11::kPinCountLow == CARVIX_PIN_COUNT_LOW &&
                  Orvel::Pkcs11::kPinFinalTry == CARVIX_PIN_FINAL_TRY &&
                  Orvel::Pkcs11::kPinLocked == CARVIX_PIN_LOCKED &&
                  Orvel::Pkcs11::kPinWasWrong == CARVIX_PIN_WAS_WRONG);
    Orvel::Pkcs11::SetPinStatePrompt(
        static_cast<bool (*)(const Orvel::Pkcs11::PinRequest&, Orvel::Pkcs11::SecretText&)>(
            &AskHostPin));
    Orvel::Pkcs11::SetPinPadNotice([](const std::u16string& tokenLabel) {
        CarvixPinPadNotice* notice = CarvixBeginPinPadNotice(tokenLabel.c_str());
        return std::function<void()>([notice] { CarvixEndPinPadNotice(notice); });
    });
}

void BridgeCardWaitLimit() {
    Orvel::PCSC::SetCardWaitLimitSource(&CarvixCardWaitLimit);
}

}  // namespace carvix::com
