#include "carvix/pki/key_usage.h"

#include <openssl/x509v3.h>

namespace carvix::pki {
namespace {

// One use, from the private key's flag (the deciding one: the token refuses the operation
// without it), the public key's flag and the certificate's bits.
bool Allows(std::optional<bool> privateFlag, std::optional<bool> publicFlag,
            std::optional<std::uint32_t> keyUsage, std::uint32_t bits) {
    const bool byKeys =
        privateFlag.value_or(publicFlag.value_or(false)) && publicFlag.value_or(true);
    return byKeys && (!keyUsage || (*keyUsage & bits) != 0);
}

constexpr std::uint32_t kEncipherment = KU_KEY_ENCIPHERMENT | KU_DATA_ENCIPHERMENT;
constexpr std::uint32_t kSigning = KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION;

}  // namespace

PairUsage JudgeUsage(const PairFacts& facts) {
    if (Allows(facts.privateDecrypt, facts.publicEncrypt, facts.certificateKeyUsage,
               kEncipherment)) {
        return PairUsage::Exchange;
    }
    if (Allows(facts.privateSign, facts.publicVerify, facts.certificateKeyUsage, kSigning)) {
        return PairUsage::Signature;
    }
    return PairUsage::None;
}

bool ServesKeySpec(PairUsage usage, std::uint32_t keySpec) {
    return (usage == PairUsage::Exchange && keySpec == 1) ||
           (usage == PairUsage::Signature && keySpec == 2);
}

bool NeedsPrivateKey(const PairFacts& facts) {
    return !facts.privateDecrypt && !facts.privateSign &&
           Allows(std::nullopt, facts.publicEncrypt, facts.certificateKeyUsage, kEncipherment);
}

}  // namespace carvix::pki
