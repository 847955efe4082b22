// What a key pair on a token may be used for, judged from everything the token says about it:
// the public key's flags, the private key's flags and, when the pair has a certificate with
// the key-usage extension, that extension. Other tools mark their pairs differently (one
// marks a signing pair's public key for encryption too, another leaves decryption on for a
// pair meant for signing), so no single flag decides.
#pragma once

#include <cstdint>
#include <optional>

namespace carvix::pki {

/// The facts about one pair; none where the token does not show them (the private key is
/// hidden before login, a pair has no certificate, a certificate has no key-usage extension).
struct PairFacts {
    std::optional<bool> publicEncrypt;
    std::optional<bool> publicVerify;
    std::optional<bool> privateDecrypt;
    std::optional<bool> privateSign;
    std::optional<std::uint32_t> certificateKeyUsage;  // OpenSSL's KU_* bits
};

enum class PairUsage {
    None,       // may neither decrypt nor sign
    Signature,  // may sign, may not decrypt: AT_SIGNATURE
    Exchange,   // may decrypt (and may sign too): AT_KEYEXCHANGE
};

/// Decrypting needs CKA_DECRYPT on the private key, CKA_ENCRYPT on the public key and a
/// certificate (if any) that allows key or data encipherment; signing needs CKA_SIGN on the
/// private key, CKA_VERIFY on the public key and a certificate (if any) that allows digital
/// signatures or non-repudiation. A flag the token does not show counts as allowed only
/// when the other key of the pair allows it (a pair whose private key is hidden is judged
/// by its public key, as a token shows it before login).
PairUsage JudgeUsage(const PairFacts& facts);

/// Whether a pair of this usage is the pair for AT_KEYEXCHANGE (1) or AT_SIGNATURE (2).
bool ServesKeySpec(PairUsage usage, std::uint32_t keySpec);

/// Whether the judgement could change once the private key is visible: the public key and
/// certificate allow decryption but the private key's flags are unknown.
bool NeedsPrivateKey(const PairFacts& facts);

}  // namespace carvix::pki
