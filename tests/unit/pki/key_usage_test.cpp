// How a pair's usage is judged from the flags of both keys and the certificate's key usage,
// with the flags the common tools give their pairs.
#include "carvix/pki/key_usage.h"

#include <gtest/gtest.h>
#include <openssl/x509v3.h>

namespace carvix::pki {
namespace {

// Public key: encrypt, verify (SoftHSM2's defaults, whatever the tool asked for).
PairFacts Pair(std::optional<bool> privateDecrypt, std::optional<bool> privateSign) {
    return {true, true, privateDecrypt, privateSign, std::nullopt};
}

TEST(KeyUsageTest, ThePrivateKeyDecidesWhatThePublicKeyAllows) {
    // A signing pair of a tool that marks every public key for encryption.
    EXPECT_EQ(JudgeUsage(Pair(false, true)), PairUsage::Signature);
    // A decryption-only pair: the exchange pair, although it cannot sign.
    EXPECT_EQ(JudgeUsage(Pair(true, false)), PairUsage::Exchange);
    // A pair for both (another tool's default, and our own exchange pairs).
    EXPECT_EQ(JudgeUsage(Pair(true, true)), PairUsage::Exchange);
    EXPECT_EQ(JudgeUsage(Pair(false, false)), PairUsage::None);
    // A public key that may not encrypt makes no exchange pair, whatever the private key says.
    EXPECT_EQ(JudgeUsage({false, true, true, true, std::nullopt}), PairUsage::Signature);
    EXPECT_EQ(JudgeUsage({false, false, true, true, std::nullopt}), PairUsage::None);
}

TEST(KeyUsageTest, TheCertificateNarrowsTheKeys) {
    PairFacts both = Pair(true, true);
    both.certificateKeyUsage = KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION;
    EXPECT_EQ(JudgeUsage(both), PairUsage::Signature);
    both.certificateKeyUsage = KU_KEY_ENCIPHERMENT;
    EXPECT_EQ(JudgeUsage(both), PairUsage::Exchange);
    // A certificate cannot grant what the keys refuse.
    PairFacts signer = Pair(false, true);
    signer.certificateKeyUsage = KU_KEY_ENCIPHERMENT;
    EXPECT_EQ(JudgeUsage(signer), PairUsage::None);
}

TEST(KeyUsageTest, AHiddenPrivateKeyIsJudgedByThePublicKeyAndAsksForLogin) {
    PairFacts hidden{true, true, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_TRUE(NeedsPrivateKey(hidden));
    EXPECT_EQ(JudgeUsage(hidden), PairUsage::Exchange);
    // Nothing to settle when the public key or the certificate already rules decryption out.
    hidden.publicEncrypt = false;
    EXPECT_FALSE(NeedsPrivateKey(hidden));
    EXPECT_EQ(JudgeUsage(hidden), PairUsage::Signature);
    hidden = {true, true, std::nullopt, std::nullopt, KU_DIGITAL_SIGNATURE};
    EXPECT_FALSE(NeedsPrivateKey(hidden));
    EXPECT_EQ(JudgeUsage(hidden), PairUsage::Signature);
    EXPECT_FALSE(NeedsPrivateKey(Pair(false, true)));
}

TEST(KeyUsageTest, KeySpecsOfTheUsages) {
    EXPECT_TRUE(ServesKeySpec(PairUsage::Exchange, 1));
    EXPECT_FALSE(ServesKeySpec(PairUsage::Exchange, 2));
    EXPECT_TRUE(ServesKeySpec(PairUsage::Signature, 2));
    EXPECT_FALSE(ServesKeySpec(PairUsage::Signature, 1));
    EXPECT_FALSE(ServesKeySpec(PairUsage::None, 1));
    EXPECT_FALSE(ServesKeySpec(PairUsage::None, 2));
}

}  // namespace
}  // namespace carvix::pki
