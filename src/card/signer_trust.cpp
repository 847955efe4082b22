#include "carvix/card/signer_trust.h"

#include "carvix/card/card_applet.h"
#include "carvix/card/sod_block.h"
#include "carvix/card/sod_registry.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "carvix/support/unicode.h"
#include "verification_cache.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <memory>

namespace OpenSsl = Orvel::OpenSsl;

namespace carvix::card {
namespace {

constexpr std::int32_t kUntrustedRoot = static_cast<std::int32_t>(0x800B0109u);
constexpr std::int32_t kExpired = static_cast<std::int32_t>(0x800B0101u);
constexpr std::int32_t kRevoked = static_cast<std::int32_t>(0x80092010u);
constexpr std::int32_t kWrongUsage = static_cast<std::int32_t>(0x800B0110u);
constexpr std::int32_t kChaining = static_cast<std::int32_t>(0x800B010Au);

// A check made at the time of the read is remembered this long (seconds).
constexpr std::int64_t kNowCheckLifetime = 60;

DistrustReason ReasonOf(int error) {
    switch (error) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return DistrustReason::UnknownIssuer;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return DistrustReason::Expired;
        case X509_V_ERR_CERT_REVOKED:
            return DistrustReason::Revoked;
        case X509_V_ERR_INVALID_PURPOSE:
        case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
        case X509_V_ERR_KEYUSAGE_NO_DIGITAL_SIGNATURE:
            return DistrustReason::WrongUsage;
        default:
            return DistrustReason::BadChain;
    }
}

// Revocation is checked where an issuer has a list; an issuer without one is not held against
// the chain (a relying party that installs no lists asks for no revocation check).
int AllowMissingList(int ok, X509_STORE_CTX* context) {
    if (ok == 0 && X509_STORE_CTX_get_error(context) == X509_V_ERR_UNABLE_TO_GET_CRL) {
        X509_STORE_CTX_set_error(context, X509_V_OK);
        return 1;
    }
    return ok;
}

// The signing time among the first signer's signed attributes, if it has one.
std::optional<std::time_t> SigningTime(CMS_ContentInfo* cms) {
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
    if (signers == nullptr || sk_CMS_SignerInfo_num(signers) < 1) {
        return std::nullopt;
    }
    CMS_SignerInfo* first = sk_CMS_SignerInfo_value(signers, 0);
    const int index = CMS_signed_get_attr_by_NID(first, NID_pkcs9_signingTime, -1);
    if (index < 0) {
        return std::nullopt;
    }
    X509_ATTRIBUTE* attribute = CMS_signed_get_attr(first, index);
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (value == nullptr ||
        (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME)) {
        return std::nullopt;
    }
    std::tm tm{};
    if (ASN1_TIME_to_tm(value->value.utctime, &tm) != 1) {
        return std::nullopt;
    }
    return timegm(&tm);
}

}  // namespace

const char* StatusText(TrustStatus status) {
    switch (status) {
        case TrustStatus::Trusted:
            return "trusted";
        case TrustStatus::Untrusted:
            return "untrusted";
        case TrustStatus::NotChecked:
            break;
    }
    return "trust not checked";
}

const char* ReasonText(DistrustReason reason) {
    switch (reason) {
        case DistrustReason::None:
            return "";
        case DistrustReason::UnknownIssuer:
            return "unknown issuer";
        case DistrustReason::Expired:
            return "expired";
        case DistrustReason::Revoked:
            return "revoked";
        case DistrustReason::WrongUsage:
            return "wrong usage";
        case DistrustReason::BadChain:
            break;
    }
    return "invalid chain";
}

std::string TrustText(const SignerTrust& trust) {
    std::string text = StatusText(trust.status);
    if (trust.status == TrustStatus::Untrusted) {
        text += " (" + std::string(ReasonText(trust.reason)) + ")";
    }
    return text;
}

std::int32_t TrustFailureCode(const SignerTrust& trust) {
    if (trust.status == TrustStatus::Trusted) {
        return 0;
    }
    switch (trust.reason) {
        case DistrustReason::Expired:
            return kExpired;
        case DistrustReason::Revoked:
            return kRevoked;
        case DistrustReason::WrongUsage:
            return kWrongUsage;
        case DistrustReason::BadChain:
            return kChaining;
        case DistrustReason::None:
        case DistrustReason::UnknownIssuer:
            break;
    }
    return kUntrustedRoot;
}

SignerTrust CheckSignerTrust(const AnchorSet& anchors, X509* signer, STACK_OF(X509) * carried,
                             std::optional<std::time_t> at) {
    SignerTrust result;
    result.atSigningTime = at.has_value();
    if (!anchors.HasCertificates() || signer == nullptr) {
        return result;  // not checked
    }
    auto context = OpenSsl::Own<X509_STORE_CTX_free>(X509_STORE_CTX_new());
    if (context == nullptr ||
        X509_STORE_CTX_init(context.get(), anchors.Store(), signer, carried) != 1) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    // An installed certificate is an anchor whether or not it is a root: an administrator may
    // trust one document-signing CA below a national root without trusting the root's others.
    unsigned long flags = X509_V_FLAG_PARTIAL_CHAIN;
    if (anchors.HasCrls()) {
        flags |= X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL;
        X509_STORE_CTX_set_verify_cb(context.get(), &AllowMissingList);
    }
    X509_VERIFY_PARAM_set_flags(param, flags);
    X509_VERIFY_PARAM_set_time(param, at.value_or(std::time(nullptr)));
    const int verified = X509_verify_cert(context.get());
    if (verified != 1) {
        const int error = X509_STORE_CTX_get_error(context.get());
        result.status = TrustStatus::Untrusted;
        result.reason = ReasonOf(error);
        result.detail = X509_verify_cert_error_string(error);
        ERR_clear_error();
        return result;
    }
    ERR_clear_error();
    // A SOD is signed with the signer's key: a key usage that names neither digital
    // signatures nor non-repudiation makes the certificate unfit for it.
    if ((X509_get_extension_flags(signer) & EXFLAG_KUSAGE) != 0 &&
        (X509_get_key_usage(signer) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) == 0) {
        result.status = TrustStatus::Untrusted;
        result.reason = DistrustReason::WrongUsage;
        result.detail = "the key usage of the signer's certificate does not allow signing";
        return result;
    }
    result.status = TrustStatus::Trusted;
    return result;
}

SignerTrust SodSignerTrust(std::span<const std::uint8_t> message) {
    const std::shared_ptr<const AnchorSet> anchors = AnchorSet::Installed();
    if (!anchors->HasCertificates()) {
        return {};
    }
    auto& cache = VerificationCache::Instance();
    const std::int64_t now = std::time(nullptr);
    if (auto known = cache.FindTrust(message, anchors->Id(), now)) {
        return *known;
    }
    const unsigned char* cursor = message.data();
    auto cms = OpenSsl::Own<CMS_ContentInfo_free>(
        d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(message.size())));
    if (cms == nullptr) {
        ERR_clear_error();
        SignerTrust broken;
        broken.status = TrustStatus::Untrusted;
        broken.reason = DistrustReason::BadChain;
        broken.detail = "the signed object cannot be decoded";
        return broken;
    }
    auto carried = OpenSsl::Own<OpenSsl::FreeCertificates>(CMS_get1_certs(cms.get()));
    // The signer is the carried certificate the first signer info names, as in the
    // verification that accepted the message.
    X509* signer = nullptr;
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    if (signers != nullptr && sk_CMS_SignerInfo_num(signers) > 0) {
        CMS_SignerInfo* first = sk_CMS_SignerInfo_value(signers, 0);
        for (int i = 0; carried != nullptr && i < sk_X509_num(carried.get()); ++i) {
            if (CMS_SignerInfo_cert_cmp(first, sk_X509_value(carried.get(), i)) == 0) {
                signer = sk_X509_value(carried.get(), i);
                break;
            }
        }
    }
    const std::optional<std::time_t> at = SigningTime(cms.get());
    SignerTrust result = CheckSignerTrust(*anchors, signer, carried.get(), at);
    ERR_clear_error();
    cache.RememberTrust(message, {anchors->Id(), at ? 0 : now + kNowCheckLifetime, result});
    return result;
}

std::optional<SignerTrust> BlockSignerTrust(CardApplet& applet, std::uint16_t blockId) {
    const SodRegistry& registry = SodRegistry::ForApplication(applet.ApplicationId());
    const std::uint16_t sodId = registry.SodOf(blockId);
    if (sodId == 0) {
        return std::nullopt;
    }
    std::unique_ptr<SodBlock> sod = registry.CreateSodBlock(sodId);
    sod->Decode(applet.ReadBlock(sodId));  // from the block cache: read just now
    const Orvel::ByteArray& message = sod->Message().GetValue();
    return SodSignerTrust(message);
}

void EnforceTrustPolicy(const SignerTrust& trust, std::uint16_t blockId,
                        const std::u16string& signerSubject) {
    if (trust.status == TrustStatus::Trusted || !TrustedSignerRequired()) {
        return;
    }
    std::string why = trust.status == TrustStatus::NotChecked
                          ? "no trust anchor is installed"
                          : std::string(ReasonText(trust.reason)) +
                                (trust.detail.empty() ? "" : ": " + trust.detail);
    throw CardException(
        Orvel::Format("The signer of block with ID 0x%04X is not trusted (", blockId) +
            Orvel::Utf8ToUtf16(why) + u"); signer: " + signerSubject +
            u". Trusted signers are required by /etc/carvix-qx/trust-policy.",
        TrustFailureCode(trust));
}

}  // namespace carvix::card
