// Whether the signer of a SOD chains to an installed anchor: what makes a verified block a
// trusted one. A verified signature only shows that the SOD was signed with the certificate
// it carries; the chain check shows who vouches for that certificate.
#pragma once

#include "carvix/card/trust_anchors.h"

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>

class CardApplet;

namespace carvix::card {

enum class TrustStatus : std::uint8_t { NotChecked, Trusted, Untrusted };
enum class DistrustReason : std::uint8_t {
    None,
    UnknownIssuer,  // no chain to an anchor
    Expired,        // a certificate of the chain is outside its validity at the time checked
    Revoked,        // a list of an issuer names a certificate of the chain
    WrongUsage,     // the signer's key usage does not allow signing
    BadChain,       // anything else the chain check refuses
};

struct SignerTrust {
    TrustStatus status = TrustStatus::NotChecked;
    DistrustReason reason = DistrustReason::None;
    std::string detail;          // the chain check's own words for an untrusted signer
    bool atSigningTime = false;  // checked at the SOD's signing time (else at the time of the read)
};

/// "trusted", "untrusted" or "trust not checked".
const char* StatusText(TrustStatus status);
/// "unknown issuer", "expired", "revoked", "wrong usage", "invalid chain"; "" for None.
const char* ReasonText(DistrustReason reason);
/// "trusted", "untrusted (expired)", "trust not checked".
std::string TrustText(const SignerTrust& trust);

/// The result a read fails with when trusted signers are required: S_OK for a trusted signer;
/// CERT_E_UNTRUSTEDROOT (0x800B0109) for an unknown issuer or when no anchor is installed,
/// CERT_E_EXPIRED (0x800B0101), CRYPT_E_REVOKED (0x80092010), CERT_E_WRONG_USAGE (0x800B0110),
/// CERT_E_CHAINING (0x800B010A) for any other refusal.
std::int32_t TrustFailureCode(const SignerTrust& trust);

/// Checks `signer` against `anchors` at time `at` (now when absent), with `carried` (may be
/// null) as further certificates to build the chain from. Revocation is checked against the
/// lists the set holds; an issuer without a list is not held against the chain. The signer's
/// key usage, when it has one, must allow digital signatures or non-repudiation.
SignerTrust CheckSignerTrust(const AnchorSet& anchors, X509* signer, STACK_OF(X509) * carried,
                             std::optional<std::time_t> at);

/// The trust of the signer of `message`, a SOD message that VerifySignedMessage has accepted,
/// against the installed anchors, at the signing time its first signer info carries (else now).
/// Remembered with the message's verification, per anchor set.
SignerTrust SodSignerTrust(std::span<const std::uint8_t> message);

/// After `applet.ReadVerifiedBlock` of `blockId`: the trust of the signer of the SOD that
/// covers it (from the applet's block cache, so the card is not asked again), or nothing for
/// a block without a SOD.
std::optional<SignerTrust> BlockSignerTrust(CardApplet& applet, std::uint16_t blockId);

/// Raises CardException with TrustFailureCode and a message naming the block and the signer
/// when trusted signers are required (TrustedSignerRequired) and `trust` is not trusted.
void EnforceTrustPolicy(const SignerTrust& trust, std::uint16_t blockId,
                        const std::u16string& signerSubject);

}  // namespace carvix::card
