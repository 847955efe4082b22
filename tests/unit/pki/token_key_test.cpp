// Token certificates in the user's "My" store with pkcs11: key links, and signing and
// decryption with keys that stay on the token.
#include "carvix/support/token_key.h"
#include "carvix/pki/certificate_request.h"
#include "carvix/support/card_hold.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pkcs11_uri.h"
#include "carvix/support/private_key.h"
#include "carvix/support/x509_store.h"

#include "test_token.h"

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>

#include <filesystem>

namespace carvix::pki {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;
using Orvel::ByteArray;

TEST(KeyLinkTest, FormatAndParseRoundTrip) {
    const Orvel::Pkcs11::KeyLink link{"My Card;1", {0x01, 0xAB, 0x7E}, {}, {}, {}, {}};
    const std::string uri = Orvel::Pkcs11::FormatKeyLink(link);
    EXPECT_EQ(uri, "pkcs11:token=My%20Card%3B1;id=%01%AB%7E;type=private");
    const auto parsed = Orvel::Pkcs11::ParseKeyLink(uri + "?pin-source=x");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->token, link.token);
    EXPECT_EQ(parsed->id, link.id);
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=x"));
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=x;id=%G1"));
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("/path/key.pem"));
}

// A link names the token's serial number and the module that serves it, so that using the
// key loads that module alone; links of other tools name the module by p11-kit's name.
TEST(KeyLinkTest, SerialAndModuleTravelWithTheLink) {
    Orvel::Pkcs11::KeyLink link{"Signer", {0x0F}, "af3c 12", "/usr/lib/x/libsofthsm2.so", {}, {}};
    const std::string uri = Orvel::Pkcs11::FormatKeyLink(link);
    EXPECT_EQ(uri,
              "pkcs11:serial=af3c%2012;token=Signer;id=%0F;type=private"
              "?module-path=%2Fusr%2Flib%2Fx%2Flibsofthsm2.so");
    const auto parsed = Orvel::Pkcs11::ParseKeyLink(uri);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->serial, link.serial);
    EXPECT_EQ(parsed->modulePath, link.modulePath);
    EXPECT_TRUE(parsed->moduleName.empty());

    const auto named = Orvel::Pkcs11::ParseKeyLink(
        "pkcs11:token=Signer;id=%0F;type=private?pin-value=x&module-name=softhsm2");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->moduleName, "softhsm2");
    EXPECT_TRUE(named->modulePath.empty());
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=x;id=%01?module-path=%G0"));
}

// While this thread holds a card, nothing may start that could wait on another program: a
// PC/SC-based module connects to every card when it is initialised, and a person may take
// their time over a prompt.
TEST(CardHoldTest, ModulesPromptsAndChoosersRefuseWhileACardIsHeld) {
    testpki::PrivateStores stores;
    {
        Orvel::CardHold hold;
        EXPECT_THROW(Orvel::Pkcs11::AllTokens(), Orvel::CardHeldError);
        x509::X509Store my(x509::kStoreCurrentUser, u"My");
        my.Open(0);
        EXPECT_THROW(my.SelectCertificate(nullptr, u"", u"", 0), Orvel::CardHeldError);
        // Listing a store reads files only and stays allowed.
        EXPECT_NO_THROW(my.Certificates());
    }
    EXPECT_FALSE(Orvel::CardHold::Active());
}

class TokenKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tokens_.AddToken("Signer");
        auto provider = KeyContainer::Acquire(u"\\\\.\\Signer\\sod", 0, true);
        provider.GenerateKeyPair(kAtKeyExchange, 2048u << 16);
        certificate_ = testpki::IssueForRequest(
            CreateCertificateRequest(provider, kAtKeyExchange, u"SOD signer"), ca_);
        provider.SetCertificate(kAtKeyExchange, certificate_);
    }

    x509::X509Certificate TokenCertificate() { return testpki::CertificateInMy(certificate_); }

    testpki::TestTokens tokens_;
    testpki::PrivateStores stores_;
    testpki::Identity ca_ = testpki::MakeIdentity("Test CA");
    ByteArray certificate_;
};

// The import put the certificate into "My" with a link naming the token's serial number and
// SoftHSM2's module; listing "My" itself reads only the store's files.
TEST_F(TokenKeyTest, ImportPutsTheCertificateIntoMyWithALinkThatNamesTheModule) {
    const auto certificate = TokenCertificate();
    const auto link = Orvel::Pkcs11::ParseKeyLink(certificate.KeyProviderLink());
    ASSERT_TRUE(link) << certificate.KeyProviderLink();
    EXPECT_EQ(link->token, "Signer");
    EXPECT_FALSE(link->serial.empty());
    EXPECT_NE(link->modulePath.find("softhsm2"), std::string::npos) << link->modulePath;
    // The token's certificate appears nowhere else: removing it from the store removes it
    // from the listing, although the token still holds it.
    const auto folder = x509::X509Store::FolderOf(x509::kStoreCurrentUser, u"My");
    std::filesystem::remove(folder / (certificate.Thumbprint() + ".der"));
    EXPECT_THROW(TokenCertificate(), std::runtime_error);
}

// Token certificates taken on request (carvix certs add --token) carry the same links.
TEST_F(TokenKeyTest, TokenCertificatesOfAChosenTokenCarryModuleLinks) {
    Orvel::Pkcs11::TokenChoice choice;
    choice.label = "Signer";
    const auto found = Orvel::Pkcs11::TokenCertificates(choice);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().RawData(), certificate_);
    const auto link = Orvel::Pkcs11::ParseKeyLink(found.front().KeyProviderLink());
    ASSERT_TRUE(link);
    // The key opens through the module the link names.
    auto key = x509::LoadPrivateKey(found.front());
    EXPECT_NE(key, nullptr);
    choice.label = "No Such Token";
    EXPECT_TRUE(Orvel::Pkcs11::TokenCertificates(choice).empty());
}

TEST_F(TokenKeyTest, CmsSignatureAndDecryptionRunOnTheToken) {
    const auto certificate = TokenCertificate();
    const int asked = tokens_.PinRequests();
    auto key = x509::LoadPrivateKey(certificate);
    EXPECT_EQ(tokens_.PinRequests(), asked + 1);

    const std::string content = "block content";
    auto in = Orvel::OpenSsl::Own<BIO_free>(
        BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    auto cms = Orvel::OpenSsl::Own<CMS_ContentInfo_free>(
        CMS_sign(certificate.Handle(), key.get(), nullptr, in.get(), CMS_BINARY));
    ASSERT_NE(cms, nullptr);
    auto store = Orvel::OpenSsl::Own<X509_STORE_free>(X509_STORE_new());
    X509_STORE_add_cert(store.get(), ca_.certificate.get());
    auto out = Orvel::OpenSsl::Own<BIO_free>(BIO_new(BIO_s_mem()));
    EXPECT_EQ(CMS_verify(cms.get(), nullptr, store.get(), nullptr, out.get(),
                         CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY),
              1);

    auto plain = Orvel::OpenSsl::Own<BIO_free>(
        BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    auto recipients = Orvel::OpenSsl::Own<Orvel::OpenSsl::FreeCertificates>(sk_X509_new_null());
    sk_X509_push(recipients.get(), X509_dup(certificate.Handle()));
    auto enveloped = Orvel::OpenSsl::Own<CMS_ContentInfo_free>(
        CMS_encrypt(recipients.get(), plain.get(), EVP_aes_128_cbc(), CMS_BINARY));
    ASSERT_NE(enveloped, nullptr);
    auto decrypted = Orvel::OpenSsl::Own<BIO_free>(BIO_new(BIO_s_mem()));
    ASSERT_EQ(CMS_decrypt(enveloped.get(), key.get(), certificate.Handle(), nullptr,
                          decrypted.get(), CMS_BINARY),
              1);
    char* data = nullptr;
    const long length = BIO_get_mem_data(decrypted.get(), &data);
    EXPECT_EQ(std::string(data, static_cast<std::size_t>(length)), content);
}

TEST_F(TokenKeyTest, WrongPinIsReportedAndNothingIsOpened) {
    const auto certificate = TokenCertificate();
    tokens_.AnswerPin("0000");
    try {
        x509::LoadPrivateKey(certificate);
        FAIL();
    } catch (const Orvel::Win32Exception& e) {
        EXPECT_EQ(e.Code(), 0x8010006Bu);
    }
}

}  // namespace
}  // namespace carvix::pki
