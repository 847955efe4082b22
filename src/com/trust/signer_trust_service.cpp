#include "trust/signer_trust_service.h"

#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/card/trust_anchors.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/support/base64.h"
#include "carvix/support/unicode.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/x509.h>

namespace carvix::com {

namespace ca = automation;
using S = ISignerTrustService;
using I = ISignerInfo;

inline constexpr ca::MemberDesc kSignerTrustMembers[] = {
    ca::Method<&S::SignerOf>(1, u"SignerOf", {u"pBlock", u"ppSigner"},
                             u"Returns the signer of a block that was read, with its trust"),
    ca::PropGet<&S::get_AnchorsInstalled>(2, u"AnchorsInstalled", u"property AnchorsInstalled"),
    ca::PropGet<&S::get_TrustedSignerRequired>(3, u"TrustedSignerRequired",
                                               u"property TrustedSignerRequired"),
};

const ca::InterfaceDesc kSignerTrustServiceDesc{u"ISignerTrustService", kIidISignerTrustService,
                                                u"ISignerTrustService Interface",
                                                kSignerTrustMembers};

inline constexpr ca::MemberDesc kSignerInfoMembers[] = {
    ca::PropGet<&I::get_Subject>(1, u"Subject", u"property Subject"),
    ca::PropGet<&I::get_Issuer>(2, u"Issuer", u"property Issuer"),
    ca::PropGet<&I::get_SerialNumber>(3, u"SerialNumber", u"property SerialNumber"),
    ca::PropGet<&I::get_Certificate>(4, u"Certificate", u"property Certificate"),
    ca::PropGet<&I::get_Trust>(5, u"Trust", u"property Trust"),
    ca::PropGet<&I::get_Reason>(6, u"Reason", u"property Reason"),
    ca::PropGet<&I::get_TrustResult>(7, u"TrustResult", u"property TrustResult"),
};

const ca::InterfaceDesc kSignerInfoDesc{u"ISignerInfo", kIidISignerInfo, u"ISignerInfo Interface",
                                        kSignerInfoMembers};

namespace {

constexpr HRESULT kNoSignature = static_cast<HRESULT>(0x800B0100u);  // TRUST_E_NOSIGNATURE

std::u16string NameText(X509_NAME* name) {
    auto bio = Orvel::OpenSsl::Own<BIO_free>(BIO_new(BIO_s_mem()));
    if (bio == nullptr || name == nullptr) {
        return {};
    }
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return Orvel::Utf8ToUtf16(std::string_view(data, static_cast<std::size_t>(length)));
}

HRESULT OutText(const std::u16string& text, BSTR* out) {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (text.empty()) {
        *out = nullptr;
        return S_OK;
    }
    *out = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace

std::shared_ptr<const BlockSigner> MakeBlockSigner(X509* certificate,
                                                   const card::SignerTrust& trust) {
    auto signer = std::make_shared<BlockSigner>();
    signer->trust = trust;
    if (certificate == nullptr) {
        return signer;
    }
    const int length = i2d_X509(certificate, nullptr);
    if (length > 0) {
        signer->certificate.resize(static_cast<std::size_t>(length));
        unsigned char* cursor = signer->certificate.data();
        i2d_X509(certificate, &cursor);
    }
    signer->subject = NameText(X509_get_subject_name(certificate));
    signer->issuer = NameText(X509_get_issuer_name(certificate));
    if (auto serial = Orvel::OpenSsl::Own<BN_free>(
            ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr))) {
        if (char* hex = BN_bn2hex(serial.get())) {
            signer->serialNumber = Orvel::Utf8ToUtf16(hex);
            OPENSSL_free(hex);
        }
    }
    return signer;
}

void AttachSigner(IUnknown* object, std::shared_ptr<const BlockSigner> signer) noexcept {
    if (object == nullptr) {
        return;
    }
    ca::ComPtr<ISignerRecord> record;
    if (SUCCEEDED(object->QueryInterface(kIidISignerRecord, record.PutVoid())) && record) {
        record->SetSigner(std::move(signer));
    }
}

HRESULT SignerTrustService::SignerOf(IDispatch* pBlock, ISignerInfo** ppSigner) {
    if (pBlock == nullptr || ppSigner == nullptr) {
        return E_INVALIDARG;
    }
    *ppSigner = nullptr;
    ca::ComPtr<ISignerRecord> record;
    if (FAILED(pBlock->QueryInterface(kIidISignerRecord, record.PutVoid())) || !record) {
        return E_INVALIDARG;
    }
    std::shared_ptr<const BlockSigner> signer = record->Signer();
    if (signer == nullptr) {
        return kNoSignature;
    }
    ca::ComPtr<ISignerInfo> info;
    const HRESULT created = SignerInfo::CreateInstance(nullptr, kIidISignerInfo, info.PutVoid());
    if (FAILED(created)) {
        return created;
    }
    static_cast<SignerInfo*>(info.Get())->Set(std::move(signer));
    *ppSigner = info.Detach();
    return S_OK;
}

HRESULT SignerTrustService::get_AnchorsInstalled(std::int16_t* pVal) {
    if (pVal == nullptr) {
        return E_INVALIDARG;
    }
    return Guarded(FailurePolicy::Plain, [&] {
        *pVal = card::AnchorSet::Installed()->HasCertificates() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT SignerTrustService::get_TrustedSignerRequired(std::int16_t* pVal) {
    if (pVal == nullptr) {
        return E_INVALIDARG;
    }
    *pVal = card::TrustedSignerRequired() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT SignerInfo::get_Subject(BSTR* pVal) {
    return OutText(signer_ ? signer_->subject : u"", pVal);
}
HRESULT SignerInfo::get_Issuer(BSTR* pVal) {
    return OutText(signer_ ? signer_->issuer : u"", pVal);
}
HRESULT SignerInfo::get_SerialNumber(BSTR* pVal) {
    return OutText(signer_ ? signer_->serialNumber : u"", pVal);
}
HRESULT SignerInfo::get_Certificate(BSTR* pVal) {
    return Guarded(FailurePolicy::Plain, [&] {
        return OutText(signer_ ? Orvel::ToBase64(signer_->certificate) : u"", pVal);
    });
}
HRESULT SignerInfo::get_Trust(BSTR* pVal) {
    if (!signer_) {
        return OutText(u"", pVal);
    }
    const card::TrustStatus status = signer_->trust.status;
    return OutText(status == card::TrustStatus::Trusted     ? u"trusted"
                   : status == card::TrustStatus::Untrusted ? u"untrusted"
                                                            : u"not checked",
                   pVal);
}
HRESULT SignerInfo::get_Reason(BSTR* pVal) {
    const bool untrusted = signer_ && signer_->trust.status == card::TrustStatus::Untrusted;
    return OutText(untrusted ? Orvel::Utf8ToUtf16(card::ReasonText(signer_->trust.reason)) : u"",
                   pVal);
}
HRESULT SignerInfo::get_TrustResult(std::int32_t* pVal) {
    if (pVal == nullptr) {
        return E_INVALIDARG;
    }
    if (!signer_ || signer_->trust.status == card::TrustStatus::NotChecked) {
        *pVal = 1;  // S_FALSE
        return S_OK;
    }
    *pVal = card::TrustFailureCode(signer_->trust);
    return S_OK;
}

}  // namespace carvix::com
