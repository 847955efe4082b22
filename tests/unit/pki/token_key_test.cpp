// Token certificates in the user's "My" store with pkcs11: key links, and signing and
// decryption with keys that stay on the token.
#include "carvix/pki/certificate_request.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pkcs11_uri.h"
#include "carvix/support/private_key.h"
#include "carvix/support/x509_store.h"

#include "test_token.h"

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>

namespace carvix::pki {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;
using Orvel::ByteArray;

TEST(KeyLinkTest, FormatAndParseRoundTrip) {
    const Orvel::Pkcs11::KeyLink link{"My Card;1", {0x01, 0xAB, 0x7E}};
    const std::string uri = Orvel::Pkcs11::FormatKeyLink(link);
    EXPECT_EQ(uri, "pkcs11:token=My%20Card%3B1;id=%01%AB~;type=private");
    const auto parsed = Orvel::Pkcs11::ParseKeyLink(uri + "?pin-source=x");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->token, link.token);
    EXPECT_EQ(parsed->id, link.id);
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=x"));
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=x;id=%G1"));
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("/path/key.pem"));
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

    x509::X509Certificate TokenCertificate() {
        auto& my = x509::CurrentUserStore(0);
        const auto certificates = my.Certificates();
        my.Close();
        for (const auto& certificate : certificates) {
            if (certificate.RawData() == certificate_) {
                return certificate;
            }
        }
        throw std::runtime_error("the token certificate is not in My");
    }

    testpki::TestTokens tokens_;
    testpki::PrivateStores stores_;
    testpki::Identity ca_ = testpki::MakeIdentity("Test CA");
    ByteArray certificate_;
};

TEST_F(TokenKeyTest, MyShowsTheTokenCertificateWithItsKeyLink) {
    const auto certificate = TokenCertificate();
    EXPECT_EQ(certificate.KeyProviderLink().rfind("pkcs11:token=Signer;id=", 0), 0u);
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
