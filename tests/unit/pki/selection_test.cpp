// Choosing the token's signing or encryption certificate: no question for one, the chooser
// over the temporary store for several, and the enumeration's limits.
#include "carvix/pki/card_certificate_selection.h"
#include "carvix/pki/certificate_request.h"
#include "carvix/support/certificate_chooser.h"
#include "carvix/support/x509_store.h"

#include "test_token.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace carvix::pki {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;
using Orvel::ByteArray;

class SelectionTest : public ::testing::Test {
  protected:
    void SetUp() override { tokens_.AddToken("Card B"); }
    void TearDown() override { x509::SetCertificateChooser({}); }

    // A pair of the key usage in the container, with a certificate unless told not to.
    ByteArray Enrol(const std::string& container, std::uint32_t keySpec, bool certify = true) {
        auto provider = KeyContainer::Acquire(
            u"\\\\.\\Card B\\" + std::u16string(container.begin(), container.end()), 0, true);
        provider.GenerateKeyPair(keySpec, 1024u << 16);
        if (!certify) {
            return {};
        }
        const ByteArray certificate = testpki::IssueForRequest(
            CreateCertificateRequest(provider, keySpec, u"holder"), ca_, ++serial_);
        provider.SetCertificate(keySpec, certificate);
        return certificate;
    }

    std::uint32_t FailureOf(std::uint32_t keySpec) {
        try {
            SelectCardCertificate(u"Card B", keySpec);
        } catch (...) {
            return CurrentProviderFailure();
        }
        return 0;
    }

    testpki::TestTokens tokens_;
    testpki::PrivateStores stores_;
    testpki::Identity ca_ = testpki::MakeIdentity("Test CA");
    long serial_ = 10;
};

TEST_F(SelectionTest, OneCertificateIsReturnedWithoutAQuestion) {
    const ByteArray signing = Enrol("a-sign", kAtSignature);
    Enrol("b-exchange", kAtKeyExchange);
    int asked = 0;
    x509::SetCertificateChooser([&](const x509::CertificateChoice&) {
        ++asked;
        return std::optional<std::size_t>{};
    });
    const auto chosen = SelectCardCertificate(u"Card B", kAtSignature);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->RawData(), signing);
    EXPECT_EQ(asked, 0);
}

TEST_F(SelectionTest, NoCertificateForTheKeyUsage) {
    EXPECT_EQ(FailureOf(kAtSignature), kNoSuchCertificate);
    Enrol("keys", kAtSignature, false);
    Enrol("other", kAtKeyExchange);
    EXPECT_EQ(FailureOf(kAtSignature), kNoSuchCertificate);
}

TEST_F(SelectionTest, SeveralGoToTheChooserOverTheTemporaryStore) {
    Enrol("first", kAtSignature);
    const ByteArray second = Enrol("second", kAtSignature);
    const auto folder = x509::X509Store::FolderOf(x509::kStoreCurrentUser, u"TempStore$VLCard");
    std::size_t offered = 0;
    bool storeExisted = false;
    x509::SetCertificateChooser([&](const x509::CertificateChoice& choice) {
        offered = choice.offered.size();
        storeExisted = std::filesystem::exists(folder);
        for (std::size_t i = 0; i < choice.offered.size(); ++i) {
            if (choice.offered[i].RawData() == second) {
                return std::optional<std::size_t>{i};
            }
        }
        return std::optional<std::size_t>{};
    });
    const auto chosen = SelectCardCertificate(u"Card B", kAtSignature);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->RawData(), second);
    EXPECT_EQ(offered, 2u);
    EXPECT_TRUE(storeExisted);
    EXPECT_FALSE(std::filesystem::exists(folder));

    x509::SetCertificateChooser(
        [](const x509::CertificateChoice&) { return std::optional<std::size_t>{}; });
    EXPECT_FALSE(SelectCardCertificate(u"Card B", kAtSignature));
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(SelectionTest, LeftOverTemporaryStoreFailsAndIsRemoved) {
    Enrol("first", kAtSignature);
    Enrol("second", kAtSignature);
    x509::X509Store::Create(x509::kStoreCurrentUser, u"TempStore$VLCard");
    EXPECT_EQ(FailureOf(kAtSignature), 0x80090020u);
    EXPECT_FALSE(std::filesystem::exists(
        x509::X509Store::FolderOf(x509::kStoreCurrentUser, u"TempStore$VLCard")));
}

TEST_F(SelectionTest, LongContainerNameEndsTheEnumeration) {
    // Names are enumerated in byte order: "a..." (40 bytes) comes before "zz".
    Enrol(std::string(40, 'a'), kAtSignature);
    Enrol("zz", kAtSignature);
    EXPECT_EQ(FailureOf(kAtSignature), kNoSuchCertificate);
    Enrol(std::string(39, 'A'), kAtSignature);  // fits, and sorts first
    const auto chosen = SelectCardCertificate(u"Card B", kAtSignature);
    EXPECT_TRUE(chosen);
}

TEST_F(SelectionTest, UnknownReaderGivesNoSmartCard) {
    try {
        SelectCardCertificate(u"Nowhere", kAtSignature);
        FAIL();
    } catch (...) {
        EXPECT_EQ(CurrentProviderFailure(), kNoSmartCard);
    }
}

}  // namespace
}  // namespace carvix::pki
