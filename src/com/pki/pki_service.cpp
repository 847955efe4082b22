#include "pki/pki_service.h"

#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/pki/card_certificate_selection.h"
#include "carvix/pki/certificate_request.h"
#include "carvix/pki/key_container.h"
#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"

#include <string>

namespace carvix::com {

namespace ca = automation;
using S = IPKIService;

inline constexpr ca::MemberDesc kPKIMembers[] = {
    ca::Method<&S::GenerateKeyPair>(1, u"GenerateKeyPair",
                                    {u"bsContainerName", u"ulKeySpec", u"ulFlags"},
                                    u"method GenerateKeyPair"),
    ca::Method<&S::CreateCertificateRequest>(
        2, u"CreateCertificateRequest",
        {u"bsContainerName", u"ulKeySpec", u"bsCommonName", u"bSetHeaderFooter", u"bsCertReqB64"},
        u"method CreateCertificateRequest"),
    ca::Method<&S::ImportCertificate>(3, u"ImportCertificate",
                                      {u"bsContainerName", u"ulKeySpec", u"bsCertB64"},
                                      u"method ImportCertificate"),
    ca::Method<&S::SelectEncryptionCertificate>(4, u"SelectEncryptionCertificate",
                                                {u"bsReaderName", u"bsCertB64"},
                                                u"method SelectEncryptionCertificate"),
    ca::Method<&S::SelectSigningCertificate>(5, u"SelectSigningCertificate",
                                             {u"bsReaderName", u"bsCertB64"},
                                             u"method SelectSigningCertificate"),
};

const ca::InterfaceDesc kPKIServiceDesc{u"IPKIService", kIidIPKIService, u"IPKIService Interface",
                                        kPKIMembers};

namespace {

// The token provider reads every failure of these methods.
constexpr FailurePolicy kPolicy = FailurePolicy::Provider;

HRESULT Return(const std::u16string& text, BSTR* out) {
    BSTR copy = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    *out = copy;
    return S_OK;
}

void RemoveAll(std::u16string& text, std::u16string_view what) {
    for (std::size_t at = text.find(what); at != std::u16string::npos; at = text.find(what, at)) {
        text.erase(at, what.size());
    }
}

std::u16string TrimWhiteSpace(const std::u16string& text) {
    auto white = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && white(text[begin])) {
        ++begin;
    }
    while (end > begin && white(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

HRESULT PKIService::GenerateKeyPair(BSTR bsContainerName, std::uint32_t ulKeySpec,
                                    std::uint32_t ulFlags) {
    return Guarded(kPolicy, [&] {
        auto container = pki::KeyContainer::Acquire(ca::BstrText(bsContainerName), 0, true);
        container.GenerateKeyPair(ulKeySpec, ulFlags);
        return S_OK;
    });
}

HRESULT PKIService::CreateCertificateRequest(BSTR bsContainerName, std::uint32_t ulKeySpec,
                                             BSTR bsCommonName, std::int32_t bSetHeaderFooter,
                                             BSTR* bsCertReqB64) {
    if (bsCertReqB64 == nullptr) {
        return E_INVALIDARG;
    }
    return Guarded(kPolicy, [&] {
        auto container = pki::KeyContainer::Acquire(ca::BstrText(bsContainerName), 0);
        const auto der =
            pki::CreateCertificateRequest(container, ulKeySpec, ca::BstrText(bsCommonName));
        return Return(pki::RequestText(der, (bSetHeaderFooter & 0xFFFF) != 0), bsCertReqB64);
    });
}

HRESULT PKIService::ImportCertificate(BSTR bsContainerName, std::uint32_t ulKeySpec,
                                      BSTR bsCertB64) {
    return Guarded(kPolicy, [&] {
        Orvel::ByteArray der;
        try {
            std::u16string text = ca::BstrText(bsCertB64);
            RemoveAll(text, u"-----BEGIN CERTIFICATE-----");
            RemoveAll(text, u"-----END CERTIFICATE-----");
            der = Orvel::FromBase64(TrimWhiteSpace(text));
        } catch (const Orvel::ArgumentException&) {
            return E_INVALIDARG;  // text that is not Base64, before any token is looked for
        }
        auto container = pki::KeyContainer::Acquire(ca::BstrText(bsContainerName), 0);
        container.SetCertificate(ulKeySpec, der);
        return S_OK;
    });
}

HRESULT PKIService::Select(BSTR bsReaderName, std::uint32_t keySpec, BSTR* bsCertB64) {
    if (bsCertB64 == nullptr || SysStringLen(bsReaderName) == 0) {
        return E_INVALIDARG;
    }
    return Guarded(kPolicy, [&] {
        const auto chosen = pki::SelectCardCertificate(ca::BstrText(bsReaderName), keySpec);
        if (!chosen) {
            // The named code of a cancelled choice (not 0x8010002D, which means a certificate
            // that could not be obtained).
            return kCancelled;
        }
        return Return(Orvel::ToBase64(chosen->RawData()), bsCertB64);
    });
}

HRESULT PKIService::SelectEncryptionCertificate(BSTR bsReaderName, BSTR* bsCertB64) {
    return Select(bsReaderName, pki::kAtKeyExchange, bsCertB64);
}

HRESULT PKIService::SelectSigningCertificate(BSTR bsReaderName, BSTR* bsCertB64) {
    return Select(bsReaderName, pki::kAtSignature, bsCertB64);
}

}  // namespace carvix::com
