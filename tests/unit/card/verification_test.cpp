#include "carvix/card/hash.h"
#include "carvix/card/signed_message.h"
#include "carvix/card/sod_registry.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/x509_store.h"
#include "test_pki.h"
#include "verification_cache.h"

#include <openssl/cms.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

namespace {

using carvix::testpki::Bytes;
using carvix::testpki::MakeIdentity;
using carvix::testpki::SignedAttributes;
using carvix::testpki::SignMessage;
namespace x509 = Orvel::Security::Cryptography::X509;

template <typename F>
std::u16string CardMessageOf(F&& f) {
    try {
        f();
    } catch (const CardException& e) {
        EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80004005u));
        return e.Message();
    }
    return u"(no CardException)";
}

std::u16string ParseMessage(std::int64_t code) {
    std::string text =
        "Error parsing PKCS7 structure from SOD block, error code: " + std::to_string(code);
    return std::u16string(text.begin(), text.end());
}

const Bytes kContent = [] {
    Bytes b(64);
    for (std::size_t i = 0; i < b.size(); ++i) {
        b[i] = static_cast<std::uint8_t>(i * 7);
    }
    return b;
}();

class SignedMessageTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        issuer_ = new carvix::testpki::Identity(MakeIdentity("Test issuer"));
        signer_ = new carvix::testpki::Identity(MakeIdentity("Test signer", 2, issuer_));
    }
    static void TearDownTestSuite() {
        delete signer_;
        delete issuer_;
    }
    static carvix::testpki::Identity* issuer_;
    static carvix::testpki::Identity* signer_;
};
carvix::testpki::Identity* SignedMessageTest::issuer_ = nullptr;
carvix::testpki::Identity* SignedMessageTest::signer_ = nullptr;

TEST_F(SignedMessageTest, GoodMessagesGiveContentAndSigner) {
    for (auto attributes : {SignedAttributes::None, SignedAttributes::Default}) {
        VerifiedMessage result = VerifySignedMessage(SignMessage(kContent, *signer_, attributes));
        EXPECT_TRUE(result.signatureValid);
        EXPECT_EQ(result.content, kContent);
        ASSERT_FALSE(result.signer.IsEmpty());
        EXPECT_EQ(result.signer.RawData(), signer_->Der());
    }
}

TEST_F(SignedMessageTest, BrokenSignaturesAndContentAreRefused) {
    Bytes message = SignMessage(kContent, *signer_);
    Bytes badSignature = message;
    badSignature.back() ^= 0x01;  // the signature value ends the message
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(badSignature); }),
              u"PKCS7 structure has invalid signature");

    Bytes withAttributes = SignMessage(kContent, *signer_, SignedAttributes::Default);
    auto at =
        std::search(withAttributes.begin(), withAttributes.end(), kContent.begin(), kContent.end());
    ASSERT_NE(at, withAttributes.end());
    at[10] ^= 0x80;  // the content no longer matches its signed digest
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(withAttributes); }),
              u"PKCS7 structure has invalid signature");
}

TEST_F(SignedMessageTest, BytesThatAreNoSignedDataGiveTheParseCode) {
    EXPECT_EQ(CardMessageOf([] { VerifySignedMessage(Bytes{}); }), ParseMessage(-2146881278));
    EXPECT_EQ(CardMessageOf([] {
                  VerifySignedMessage(Bytes{0x13, 0x02, 0x41, 0x42});
              }),
              ParseMessage(-2146881269));
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(signer_->Der()); }),
              ParseMessage(-2146881269));
    Bytes cut = SignMessage(kContent, *signer_);
    cut.resize(cut.size() / 2);
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(cut); }), ParseMessage(-2146881278));

    // Well-formed PKCS#7, but plain data instead of SignedData.
    BIO* in = BIO_new_mem_buf(kContent.data(), static_cast<int>(kContent.size()));
    CMS_ContentInfo* data = CMS_data_create(in, CMS_BINARY);
    BIO_free(in);
    ASSERT_NE(data, nullptr);
    unsigned char* der = nullptr;
    int n = i2d_CMS_ContentInfo(data, &der);
    CMS_ContentInfo_free(data);
    Bytes plain(der, der + n);
    OPENSSL_free(der);
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(plain); }), ParseMessage(-2146885622));
}

TEST_F(SignedMessageTest, SignerComesFromTheStoreWhenOneIsNamed) {
    carvix::testpki::PrivateStores stores;
    Bytes bare = SignMessage(kContent, *signer_, SignedAttributes::None, false);
    const std::u16string notFound = ParseMessage(-2146885628);
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(bare); }), notFound);
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(bare, SignerStore{}); }), notFound);

    x509::X509Store my;
    my.Open();
    my.Add(x509::X509Certificate(issuer_->Der()), x509::AddDisposition::Always);
    my.Add(x509::X509Certificate(signer_->Der()), x509::AddDisposition::Always);
    VerifiedMessage found = VerifySignedMessage(bare, SignerStore{0x10000, u""});
    EXPECT_EQ(found.signer.RawData(), signer_->Der());
    EXPECT_EQ(found.content, kContent);

    // A certificate with the signer's issuer and serial but another key does not verify.
    auto impostor = MakeIdentity("Test signer", 2, issuer_);
    Bytes forged = SignMessage(kContent, impostor, SignedAttributes::None, false);
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(forged, SignerStore{}); }),
              u"PKCS7 structure has invalid signature");

    // With a store named, the certificate carried in the message is not used.
    EXPECT_EQ(CardMessageOf([&] {
                  VerifySignedMessage(SignMessage(kContent, *signer_), SignerStore{0x10000, u"CA"});
              }),
              notFound);
}

// Verified messages are remembered by their exact bytes; what is answered from memory must
// be what a fresh verification gives, and nothing else may be answered from it.
TEST_F(SignedMessageTest, RememberedVerificationsGiveTheSameResults) {
    ForgetVerifiedMessages();
    const Bytes message = SignMessage(kContent, *signer_, SignedAttributes::Default);
    VerifiedMessage first = VerifySignedMessage(message);
    VerifiedMessage again = VerifySignedMessage(message);
    EXPECT_TRUE(again.signatureValid);
    EXPECT_EQ(again.content, first.content);
    EXPECT_EQ(again.signer.RawData(), signer_->Der());

    // Each answer's certificate is a context of its own: a property set on one is not seen
    // by the next caller.
    again.signer.SetKeyProviderLink("/tmp/key.pem");
    EXPECT_FALSE(VerifySignedMessage(message).signer.HasPrivateKey());
    EXPECT_FALSE(first.signer.HasPrivateKey());

    // One changed byte anywhere is another message, verified afresh: here the last byte of
    // the signature.
    Bytes changed = message;
    changed.back() ^= 0x01;
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(changed); }),
              u"PKCS7 structure has invalid signature");

    // A named store decides the signer itself, so a message remembered from its own
    // certificates is verified against the (empty) store again.
    carvix::testpki::PrivateStores stores;
    EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(message, SignerStore{}); }),
              ParseMessage(-2146885628));
}

TEST_F(SignedMessageTest, RefusedMessagesAreNotRemembered) {
    ForgetVerifiedMessages();
    Bytes bad = SignMessage(kContent, *signer_);
    bad.back() ^= 0x01;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(CardMessageOf([&] { VerifySignedMessage(bad); }),
                  u"PKCS7 structure has invalid signature");
    }
    EXPECT_EQ(carvix::card::VerificationCache::Instance().Size(), 0u);
}

TEST_F(SignedMessageTest, RememberedVerificationsAreBounded) {
    using carvix::card::VerificationCache;
    ForgetVerifiedMessages();
    std::vector<Bytes> messages;
    for (std::size_t i = 0; i < VerificationCache::kCapacity + 3; ++i) {
        Bytes content = kContent;
        content[0] = static_cast<std::uint8_t>(i);
        messages.push_back(SignMessage(content, *signer_));
        EXPECT_EQ(VerifySignedMessage(messages.back()).content, content);
    }
    EXPECT_EQ(VerificationCache::Instance().Size(), VerificationCache::kCapacity);
    // The oldest was let go, and is verified (and remembered) again.
    Bytes oldest = kContent;
    oldest[0] = 0;
    EXPECT_EQ(VerifySignedMessage(messages.front()).content, oldest);
    EXPECT_EQ(VerificationCache::Instance().Size(), VerificationCache::kCapacity);
    ForgetVerifiedMessages();
    EXPECT_EQ(VerificationCache::Instance().Size(), 0u);
}

TEST(Sha256, DigestsMatchKnownValues) {
    const Bytes abc = {'a', 'b', 'c'};
    EXPECT_EQ(ComputeSha256(abc),
              (Bytes{0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                     0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                     0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad}));
    Bytes empty = ComputeSha256(Bytes{});
    ASSERT_EQ(empty.size(), 32u);
    EXPECT_EQ(empty[0], 0xe3);
    EXPECT_EQ(empty[31], 0x55);
    EXPECT_EQ(OsMajorVersion() >= 6,
              HashProviderName() == u"Microsoft Enhanced RSA and AES Cryptographic Provider");
}

TEST(Sha256, ProviderIsAcquiredAgainAfterAFailure) {
    int attempts = 0;
    HashProvider provider([&]() -> EVP_MD* {
        return ++attempts == 1 ? nullptr : EVP_MD_fetch(nullptr, "SHA256", nullptr);
    });
    EXPECT_EQ(CardMessageOf([&] { ComputeSha256(Bytes{1}, &provider); }),
              u"Cannot initialize RSA AES Cryptographic Service Provider, error code: 0x8009001D");
    EXPECT_FALSE(provider.Acquired());
    EXPECT_EQ(ComputeSha256(Bytes{'a', 'b', 'c'}, &provider)[0], 0xba);
    EXPECT_TRUE(provider.Acquired());
    (void)ComputeSha256(Bytes{2}, &provider);
    EXPECT_EQ(attempts, 2);
}

TEST(SodRegistry, TablesFollowTheApplication) {
    const SodRegistry& a = SodRegistry::ForApplication(1);
    for (std::uint16_t id : {2, 3, 4}) {
        EXPECT_EQ(&SodRegistry::ForApplication(id), &a);
    }
    const SodRegistry& b = SodRegistry::ForApplication(5);
    EXPECT_NE(&a, &b);
    EXPECT_EQ(a.BlocksOf(0x0D05),
              (std::vector<std::uint16_t>{0x0D00, 0x0D01, 0x0D02, 0x0D04, 0x0D07}));
    EXPECT_EQ(b.BlocksOf(0x0D05),
              (std::vector<std::uint16_t>{0x0D00, 0x0D01, 0x0D02, 0x0E01, 0x0D07}));
    EXPECT_EQ(a.BlocksOf(0x0D06), std::vector<std::uint16_t>{0x0D03});
    EXPECT_EQ(b.BlocksOf(0x0D09), std::vector<std::uint16_t>{0x0E02});
    EXPECT_EQ(a.SodOf(0x0D04), 0x0D05);
    EXPECT_EQ(b.SodOf(0x0D04), 0);
    EXPECT_EQ(b.SodOf(0x0E01), 0x0D05);
    EXPECT_EQ(a.SodOf(0x0E02), 0);
    EXPECT_EQ(b.SodOf(0x0E02), 0x0D09);
    EXPECT_EQ(a.SodOf(0x0D05), 0);
    EXPECT_TRUE(a.IsSod(0x0D06));
    EXPECT_FALSE(a.IsSod(0x0D09));
    EXPECT_TRUE(b.IsSod(0x0D09));
    EXPECT_FALSE(b.IsSod(0x0D03));
}

TEST(SodRegistry, UnknownIdsAreRefused) {
    for (std::uint16_t id : {0, 6, 7, 0xFFFF}) {
        EXPECT_EQ(CardMessageOf([id] { SodRegistry::ForApplication(id); }), u"Unsupported card.");
    }
    const SodRegistry& a = SodRegistry::ForApplication(2);
    EXPECT_EQ(CardMessageOf([&] { a.BlocksOf(0x0D09); }),
              u"SOD with ID 0xD09 is not registered with the application");
    EXPECT_EQ(CardMessageOf([&] { a.BlocksOf(0x0D01); }),
              u"SOD with ID 0xD01 is not registered with the application");
}

}  // namespace
