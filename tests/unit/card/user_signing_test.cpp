// Signing with the user's certificates, the choice among them, and decryption.
#include "carvix/card/user_signing.h"
#include "carvix/card/signed_message.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/openssl_ptr.h"
#include "user_store_fixture.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/rand.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace cardtest;
using carvix::testpki::Identity;
using carvix::testpki::MakeIdentity;
namespace OpenSsl = Orvel::OpenSsl;

constexpr const char16_t* kNoSuitable =
    u"There is no suitable certificate that can be used for signing";

const Orvel::ByteArray kContent = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

template <typename F>
CardException CardFailure(F&& f) {
    try {
        f();
    } catch (const CardException& e) {
        return e;
    }
    ADD_FAILURE() << "no CardException";
    return CardException(u"(none)", 0);
}

class Identities : public UserStoreTest {
  protected:
    static void SetUpTestSuite() {
        alice_ = new Identity(MakeIdentity("Alice", 11));
        bob_ = new Identity(MakeIdentity("Bob", 12));
    }
    static void TearDownTestSuite() {
        delete alice_;
        delete bob_;
    }
    std::filesystem::path TemporaryStoreFolder() const {
        return stores_.StoreFolder("TempMyStore$");
    }

    static Identity* alice_;
    static Identity* bob_;
};
Identity* Identities::alice_ = nullptr;
Identity* Identities::bob_ = nullptr;

TEST_F(Identities, NoCertificateWithAKeyMeansNoSigner) {
    EXPECT_EQ(CardFailure([] { ChooseSigningCertificate(nullptr); }).Message(), kNoSuitable);
    Install(*alice_, false);  // a certificate without a key does not count
    CardException e = CardFailure([] { SignContent(kContent, {}, true); });
    EXPECT_EQ(e.Message(), kNoSuitable);
    EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80004005));
}

TEST_F(Identities, ASingleCandidateIsTakenWithoutAQuestion) {
    Install(*bob_, false);
    auto alice = Install(*alice_);
    UseChooser([](const x509::CertificateChoice&) -> std::optional<std::size_t> {
        ADD_FAILURE() << "the chooser was asked";
        return std::nullopt;
    });
    x509::X509Certificate chosen = ChooseSigningCertificate(nullptr);
    ASSERT_FALSE(chosen.IsEmpty());
    EXPECT_EQ(chosen.Thumbprint(), alice.Thumbprint());
    EXPECT_FALSE(chosen.KeyProviderLink().empty());
}

TEST_F(Identities, SeveralCandidatesAreOfferedFromATemporaryStore) {
    auto alice = Install(*alice_);
    auto bob = Install(*bob_);
    int asked = 0;
    UseChooser([&](const x509::CertificateChoice& choice) -> std::optional<std::size_t> {
        ++asked;
        EXPECT_TRUE(std::filesystem::is_directory(TemporaryStoreFolder()));
        EXPECT_EQ(choice.offered.size(), 2u);
        EXPECT_EQ(choice.hiddenColumns, 0x18u);
        EXPECT_TRUE(choice.title.empty());
        EXPECT_TRUE(choice.displayText.empty());
        for (std::size_t i = 0; i < choice.offered.size(); ++i) {
            if (choice.offered[i].Thumbprint() == bob.Thumbprint()) {
                return i;
            }
        }
        return std::nullopt;
    });
    x509::X509Certificate chosen = ChooseSigningCertificate(nullptr);
    EXPECT_EQ(asked, 1);
    ASSERT_FALSE(chosen.IsEmpty());
    EXPECT_EQ(chosen.Thumbprint(), bob.Thumbprint());
    EXPECT_FALSE(std::filesystem::exists(TemporaryStoreFolder()));

    // Signing with the chosen one works end to end.
    VerifiedMessage verified = VerifySignedMessage(SignContent(kContent, {}, true));
    EXPECT_EQ(verified.signer.Thumbprint(), bob.Thumbprint());
}

TEST_F(Identities, CancellingTheChoiceMeansNoSigningCertificate) {
    Install(*alice_);
    Install(*bob_);
    UseChooser([](const x509::CertificateChoice&) { return std::optional<std::size_t>(); });
    EXPECT_TRUE(ChooseSigningCertificate(nullptr).IsEmpty());
    EXPECT_EQ(CardFailure([] { SignContent(kContent, {}, true); }).Message(),
              u"Signing certificate is missing");
    EXPECT_FALSE(std::filesystem::exists(TemporaryStoreFolder()));
}

TEST_F(Identities, TheTemporaryStoreGoesEvenWhenTheChooserFails) {
    Install(*alice_);
    Install(*bob_);
    UseChooser([](const x509::CertificateChoice&) -> std::optional<std::size_t> {
        throw CardException(u"No terminal to choose on");
    });
    EXPECT_EQ(CardFailure([] { ChooseSigningCertificate(nullptr); }).Message(),
              u"No terminal to choose on");
    EXPECT_FALSE(std::filesystem::exists(TemporaryStoreFolder()));
}

TEST_F(Identities, ALeftOverTemporaryStoreFailsOnceAndIsRemoved) {
    Install(*alice_);
    Install(*bob_);
    std::filesystem::create_directories(TemporaryStoreFolder());
    std::ofstream(TemporaryStoreFolder() / "stale.der") << "stale";
    int asked = 0;
    UseChooser([&](const x509::CertificateChoice&) -> std::optional<std::size_t> {
        ++asked;
        return 0;
    });
    CardException e = CardFailure([] { ChooseSigningCertificate(nullptr); });
    EXPECT_LT(e.Code(), 0);  // a failure HRESULT
    EXPECT_NE(e.Message().find(u"TempMyStore$"), std::u16string::npos);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(std::filesystem::exists(TemporaryStoreFolder()));
    // The next call works.
    EXPECT_FALSE(ChooseSigningCertificate(nullptr).IsEmpty());
    EXPECT_EQ(asked, 1);
}

TEST_F(Identities, AGivenCertificateIsLookedUpInMy) {
    auto alice = Install(*alice_);
    x509::X509Certificate bare(alice_->Der());  // from bytes: no key link
    x509::X509Certificate found = FindSigningCertificate(bare);
    EXPECT_EQ(found.KeyProviderLink(), alice.KeyProviderLink());
    x509::X509Certificate stranger(bob_->Der());
    EXPECT_EQ(CardFailure([&] { FindSigningCertificate(stranger); }).Message(), kNoSuitable);
    EXPECT_EQ(CardFailure([&] { SignContent(kContent, stranger, true); }).Message(), kNoSuitable);
}

TEST_F(Identities, SignedContentVerifiesWithOrWithoutTheCertificateInside) {
    Install(*alice_);
    x509::X509Certificate given(alice_->Der());
    Orvel::ByteArray with = SignContent(kContent, given, true);
    VerifiedMessage verified = VerifySignedMessage(with);
    EXPECT_EQ(verified.content, kContent);
    EXPECT_EQ(verified.signer.RawData(), alice_->Der());

    Orvel::ByteArray without = SignContent(kContent, given, false);
    EXPECT_LT(without.size(), with.size());
    const unsigned char* cursor = without.data();
    auto cms = OpenSsl::Own<CMS_ContentInfo_free>(
        d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(without.size())));
    ASSERT_NE(cms, nullptr);
    auto certs = OpenSsl::Own<OpenSsl::FreeCertificates>(CMS_get1_certs(cms.get()));
    EXPECT_TRUE(certs == nullptr || sk_X509_num(certs.get()) == 0);
    // The signer is then found in the store.
    EXPECT_EQ(VerifySignedMessage(without, SignerStore{}).content, kContent);
    // SHA-256 is the digest.
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    X509_ALGOR* digest = nullptr;
    CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(signers, 0), nullptr, nullptr, &digest,
                             nullptr);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, digest);
    EXPECT_EQ(OBJ_obj2nid(oid), NID_sha256);
}

TEST_F(Identities, KeysThatCannotSignFailCleanly) {
    auto cases = {
        std::string("pkcs11:token=card;object=signer"),  // not supported yet
        std::string("/nonexistent/key.pem"),             // unreadable
    };
    for (const auto& link : cases) {
        Install(*alice_, true, link);
        EXPECT_EQ(CardFailure([] { SignContent(kContent, {}, true); }).Message(),
                  u"Unable to sign data")
            << link;
    }
    // A key that belongs to another certificate.
    Install(*alice_, true, bob_->WriteKey(keys_.Path() / "bob.pem").string());
    EXPECT_EQ(CardFailure([] { SignContent(kContent, {}, true); }).Message(),
              u"Unable to sign data");
}

// An EnvelopedData message for the recipients, made the way `openssl cms -encrypt` does.
Orvel::ByteArray Encrypt(const Orvel::ByteArray& content, std::initializer_list<Identity*> to) {
    auto recipients = OpenSsl::Own<OpenSsl::FreeCertificates>(sk_X509_new_null());
    for (Identity* identity : to) {
        X509_up_ref(identity->certificate.get());
        sk_X509_push(recipients.get(), identity->certificate.get());
    }
    static const unsigned char kNothing = 0;
    auto in = OpenSsl::Own<BIO_free>(BIO_new_mem_buf(content.empty() ? &kNothing : content.data(),
                                                     static_cast<int>(content.size())));
    auto cms = OpenSsl::Own<CMS_ContentInfo_free>(
        CMS_encrypt(recipients.get(), in.get(), EVP_aes_256_cbc(), CMS_BINARY));
    EXPECT_NE(cms, nullptr);
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms.get(), &der);
    Orvel::ByteArray message(der, der + length);
    OPENSSL_free(der);
    return message;
}

TEST_F(Identities, MessagesToTheUsersCertificatesAreDecrypted) {
    Orvel::ByteArray secret(1000);
    RAND_bytes(secret.data(), static_cast<int>(secret.size()));
    Install(*bob_, false);  // addressed, but without a key
    Install(*alice_);
    EXPECT_EQ(DecryptMessage(Encrypt(secret, {bob_, alice_})), secret);
    EXPECT_EQ(DecryptMessage(Encrypt({}, {alice_})), Orvel::ByteArray{});
}

TEST_F(Identities, UndecryptableMessagesCarryThePlatformCode) {
    Install(*alice_);
    auto codeOf = [](const Orvel::ByteArray& message) {
        return static_cast<std::uint32_t>(CardFailure([&] { DecryptMessage(message); }).Code());
    };
    EXPECT_EQ(codeOf(Encrypt(kContent, {bob_})), 0x8009200Cu);  // no recipient we hold
    EXPECT_EQ(codeOf({0x30, 0x03, 0x02, 0x01, 0x00}), 0x8009310Bu);
    EXPECT_EQ(codeOf({}), 0x80093102u);
    x509::X509Certificate given(alice_->Der());
    EXPECT_EQ(codeOf(SignContent(kContent, given, true)), 0x8009200Au);  // not enveloped
    EXPECT_EQ(CardFailure([&] { DecryptMessage(kContent); }).Message(), u"Unable to decrypt data");
}

}  // namespace
