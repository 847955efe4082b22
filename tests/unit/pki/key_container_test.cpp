// Containers, key pairs and certificates on a private SoftHSM2 token, and the codes of the
// failures a caller meets.
#include "carvix/pki/key_container.h"
#include "carvix/pki/certificate_request.h"
#include "carvix/support/pkcs11_hresult.h"

#include "test_token.h"

#include <gtest/gtest.h>

namespace carvix::pki {
namespace {

using Orvel::ByteArray;

std::uint32_t FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (...) {
        return CurrentProviderFailure();
    }
    return 0;
}

TEST(ContainerNameTest, ReaderFormsAndPlainNames) {
    auto name = ParseContainerName(u"\\\\.\\Reader 00 00\\");
    ASSERT_TRUE(name.reader);
    EXPECT_EQ(*name.reader, u"Reader 00 00");
    EXPECT_EQ(name.container, u"");
    name = ParseContainerName(u"\\\\.\\Reader 00 00\\keys");
    EXPECT_EQ(*name.reader, u"Reader 00 00");
    EXPECT_EQ(name.container, u"keys");
    name = ParseContainerName(u"keys");
    EXPECT_FALSE(name.reader);
    EXPECT_EQ(name.container, u"keys");
}

TEST(ErrorTableTest, PinAndPresenceResultsBecomeCardCodes) {
    EXPECT_EQ(Orvel::Pkcs11::HResultOf(CKR_OK), 0u);
    EXPECT_EQ(Orvel::Pkcs11::HResultOf(CKR_PIN_INCORRECT), 0x8010006Bu);
    EXPECT_EQ(Orvel::Pkcs11::HResultOf(CKR_PIN_LOCKED), 0x8010006Cu);
    EXPECT_EQ(Orvel::Pkcs11::HResultOf(CKR_TOKEN_NOT_PRESENT), 0x8010000Cu);
    EXPECT_EQ(Orvel::Pkcs11::HResultOf(CKR_FUNCTION_CANCELED), 0x8010006Eu);
    EXPECT_EQ(Orvel::Pkcs11::HResultOf(CKR_KEY_SIZE_RANGE), 0x80090009u);
    EXPECT_EQ(Orvel::Pkcs11::HResultOf(0x7FFFFFF0ul), 0x80090020u);
}

class KeyContainerTest : public ::testing::Test {
  protected:
    void SetUp() override { tokens_.AddToken("Card A"); }
    testpki::TestTokens tokens_;
};

TEST_F(KeyContainerTest, GenerationCreatesTheContainerWithBothKeyUsages) {
    auto provider = KeyContainer::Acquire(u"\\\\.\\Card A\\alice", 0, true);
    provider.GenerateKeyPair(kAtSignature, 1024u << 16);
    provider.GenerateKeyPair(kAtKeyExchange, 1024u << 16);
    auto again = KeyContainer::Acquire(u"\\\\.\\Card A\\alice", 0);
    EXPECT_EQ(again.ContainerNames(), std::vector<std::string>{"alice"});
    EXPECT_NE(again.PublicKeyInfo(kAtSignature), again.PublicKeyInfo(kAtKeyExchange));
    // The default token and default container find the same pair.
    auto byDefault = KeyContainer::Acquire(u"", 0);
    EXPECT_EQ(byDefault.Container(), "alice");
    EXPECT_EQ(byDefault.PublicKeyInfo(kAtSignature), again.PublicKeyInfo(kAtSignature));
}

TEST_F(KeyContainerTest, RegenerationReplacesThePair) {
    auto provider = KeyContainer::Acquire(u"\\\\.\\Card A\\alice", 0, true);
    provider.GenerateKeyPair(kAtSignature, 1024u << 16);
    const ByteArray first = provider.PublicKeyInfo(kAtSignature);
    provider.GenerateKeyPair(kAtSignature, 1024u << 16);
    EXPECT_NE(provider.PublicKeyInfo(kAtSignature), first);
    EXPECT_EQ(FailureOf([&] { provider.PublicKeyInfo(kAtKeyExchange); }), kNoKey);
}

TEST_F(KeyContainerTest, FailuresHaveTheProviderCodes) {
    EXPECT_EQ(FailureOf([] { KeyContainer::Acquire(u"\\\\.\\Card A\\nobody", 0); }), kBadKeyset);
    EXPECT_EQ(FailureOf([] { KeyContainer::Acquire(u"\\\\.\\No Such Reader\\x", 0); }),
              kNoSmartCard);
    auto provider = KeyContainer::Acquire(u"\\\\.\\Card A\\alice", 0, true);
    EXPECT_EQ(FailureOf([&] { provider.GenerateKeyPair(kAtSignature, 100000u << 16); }), kBadFlags);
    EXPECT_EQ(FailureOf([&] { provider.GenerateKeyPair(3, 0); }), kBadAlgId);
}

TEST_F(KeyContainerTest, WrongPinAndCancelledPromptGiveTheirCodes) {
    auto provider = KeyContainer::Acquire(u"\\\\.\\Card A\\alice", 0, true);
    tokens_.AnswerPin("9999");
    EXPECT_EQ(FailureOf([&] { provider.GenerateKeyPair(kAtSignature, 1024u << 16); }), 0x8010006Bu);
    tokens_.AnswerPin("", true);
    EXPECT_EQ(FailureOf([&] { provider.GenerateKeyPair(kAtSignature, 1024u << 16); }), 0x8010006Eu);
    EXPECT_EQ(provider.ContainerNames().size(), 0u);
}

TEST_F(KeyContainerTest, CertificateImportChecksTheKey) {
    auto provider = KeyContainer::Acquire(u"\\\\.\\Card A\\alice", 0, true);
    provider.GenerateKeyPair(kAtSignature, 1024u << 16);
    const auto ca = testpki::MakeIdentity("Test CA");
    const ByteArray request = CreateCertificateRequest(provider, kAtSignature, u"Alice");
    const ByteArray certificate = testpki::IssueForRequest(request, ca);
    provider.SetCertificate(kAtSignature, certificate);
    EXPECT_EQ(provider.CertificateOf("alice", kAtSignature, 8192), certificate);
    // Importing again replaces, never duplicates.
    provider.SetCertificate(kAtSignature, certificate);
    EXPECT_EQ(provider.CertificateOf("alice", kAtSignature, 8192), certificate);
    EXPECT_EQ(FailureOf([&] { provider.CertificateOf("alice", kAtSignature, 100); }), kMoreData);

    const auto stranger = testpki::MakeIdentity("Stranger");
    EXPECT_EQ(FailureOf([&] { provider.SetCertificate(kAtSignature, stranger.Der()); }),
              kBadPublicKey);
    const ByteArray junk{0x30, 0x03, 0x02, 0x01, 0x00};
    EXPECT_EQ(FailureOf([&] { provider.SetCertificate(kAtSignature, junk); }), kBadData);
    EXPECT_EQ(FailureOf([&] { provider.CertificateOf("alice", kAtKeyExchange, 8192); }), kNoKey);
}

}  // namespace
}  // namespace carvix::pki
