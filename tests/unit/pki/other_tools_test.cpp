// Pairs made by the common command-line tools on SoftHSM2 are judged, selected and used as
// their keys allow, and the pairs we make serve those tools; tokens with one label are told
// apart by serial number, and URIs that ask for more than we can check are refused.
#include "carvix/pki/card_certificate_selection.h"
#include "carvix/pki/certificate_request.h"
#include "carvix/pki/key_container.h"
#include "carvix/support/certificate_chooser.h"
#include "carvix/support/private_key.h"
#include "carvix/support/token_key.h"
#include "carvix/support/x509_store.h"

#include "test_token.h"

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace carvix::pki {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;
using Orvel::ByteArray;

std::uint32_t FailureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (...) {
        return CurrentProviderFailure();
    }
    return 0;
}

// Runs a command and returns what it printed; the test fails when it fails.
std::string RunTool(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char buffer[4096];
    std::size_t read = 0;
    while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, read);
    }
    EXPECT_EQ(pclose(pipe), 0) << command << "\n" << output;
    return output;
}

std::string Hex(const ByteArray& bytes) {
    std::string text;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

bool SignsAndVerifies(EVP_PKEY* key, const x509::X509Certificate& certificate) {
    auto ctx = Orvel::OpenSsl::Own<EVP_MD_CTX_free>(EVP_MD_CTX_new());
    const std::string data = "signed on the token";
    std::size_t length = 512;
    ByteArray signature(length);
    if (EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(ctx.get(), signature.data(), &length,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        return false;
    }
    auto verify = Orvel::OpenSsl::Own<EVP_MD_CTX_free>(EVP_MD_CTX_new());
    return EVP_DigestVerifyInit(verify.get(), nullptr, EVP_sha256(), nullptr,
                                X509_get0_pubkey(certificate.Handle())) == 1 &&
           EVP_DigestVerify(verify.get(), signature.data(), length,
                            reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

bool DecryptsEnvelope(EVP_PKEY* key, const x509::X509Certificate& certificate) {
    const std::string content = "for the holder only";
    auto plain = Orvel::OpenSsl::Own<BIO_free>(
        BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    auto recipients = Orvel::OpenSsl::Own<Orvel::OpenSsl::FreeCertificates>(sk_X509_new_null());
    sk_X509_push(recipients.get(), X509_dup(certificate.Handle()));
    auto enveloped = Orvel::OpenSsl::Own<CMS_ContentInfo_free>(
        CMS_encrypt(recipients.get(), plain.get(), EVP_aes_128_cbc(), CMS_BINARY));
    auto decrypted = Orvel::OpenSsl::Own<BIO_free>(BIO_new(BIO_s_mem()));
    if (enveloped == nullptr || CMS_decrypt(enveloped.get(), key, certificate.Handle(), nullptr,
                                            decrypted.get(), CMS_BINARY) != 1) {
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(decrypted.get(), &data);
    return std::string(data, static_cast<std::size_t>(length)) == content;
}

class OtherToolsTest : public ::testing::Test {
  protected:
    void SetUp() override { tokens_.AddToken("Tools"); }
    void TearDown() override { x509::SetCertificateChooser({}); }

    void P11tool(const std::string& arguments) {
        RunTool("GNUTLS_PIN=1234 p11tool --provider '" + module_ + "' --login " + arguments +
                " 'pkcs11:token=Tools'");
    }
    std::string Pkcs11Tool(const std::string& arguments) {
        return RunTool("pkcs11-tool --module '" + module_ +
                       "' --token-label Tools --login --pin 1234 " + arguments);
    }
    // A signing pair and a decryption pair as p11tool marks them, and a pair of pkcs11-tool
    // (which leaves decryption on whatever it is asked for).
    void MakeOtherToolsPairs() {
        P11tool("--generate-privkey rsa --bits 1024 --mark-sign --label signer");
        P11tool("--generate-privkey rsa --bits 1024 --mark-decrypt --label decrypter");
        Pkcs11Tool("--keypairgen --key-type rsa:1024 --label both --id 01 --usage-sign");
    }
    static KeyContainer Container(const std::u16string& name) {
        return KeyContainer::Acquire(u"\\\\.\\Tools\\" + name, 0);
    }

    testpki::TestTokens tokens_;
    testpki::PrivateStores stores_;
    testpki::Identity ca_ = testpki::MakeIdentity("Test CA");
    std::string module_ = testpki::SoftHsmModule();
};

TEST_F(OtherToolsTest, PairsAreJudgedByBothKeys) {
    MakeOtherToolsPairs();
    auto signer = Container(u"signer");
    EXPECT_NO_THROW(signer.PublicKeyInfo(kAtSignature));
    EXPECT_EQ(FailureOf([&] { signer.PublicKeyInfo(kAtKeyExchange); }), kNoKey)
        << "its public key may encrypt, but its private key may not decrypt";
    auto decrypter = Container(u"decrypter");
    EXPECT_NO_THROW(decrypter.PublicKeyInfo(kAtKeyExchange));
    EXPECT_EQ(FailureOf([&] { decrypter.PublicKeyInfo(kAtSignature); }), kNoKey);
    auto both = Container(u"both");
    EXPECT_NO_THROW(both.PublicKeyInfo(kAtKeyExchange));
    EXPECT_EQ(FailureOf([&] { both.PublicKeyInfo(kAtSignature); }), kNoKey);

    // The request of the signing pair is signed by it.
    const ByteArray der = CreateCertificateRequest(signer, kAtSignature, u"Signer");
    const unsigned char* cursor = der.data();
    auto request = Orvel::OpenSsl::Own<X509_REQ_free>(
        d2i_X509_REQ(nullptr, &cursor, static_cast<long>(der.size())));
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(X509_REQ_verify(request.get(), X509_REQ_get0_pubkey(request.get())), 1);
    // A decryption-only pair cannot sign its own request: the token's refusal is reported.
    EXPECT_EQ(FailureOf([&] { CreateCertificateRequest(decrypter, kAtKeyExchange, u"D"); }),
              0x80090010u);
}

TEST_F(OtherToolsTest, PairsAreSelectedAndUsedAsTheyAllow) {
    MakeOtherToolsPairs();
    auto signer = Container(u"signer");
    const ByteArray signing = testpki::IssueForRequest(
        CreateCertificateRequest(signer, kAtSignature, u"Signer"), ca_, 21);
    signer.SetCertificate(kAtSignature, signing);
    auto decrypter = Container(u"decrypter");
    const ByteArray decrypting =
        testpki::IssueForKey(decrypter.PublicKeyInfo(kAtKeyExchange), "Decrypter", ca_, 22);
    decrypter.SetCertificate(kAtKeyExchange, decrypting);

    int asked = 0;
    x509::SetCertificateChooser([&](const x509::CertificateChoice&) {
        ++asked;
        return std::optional<std::size_t>{};
    });
    auto chosen = SelectCardCertificate(u"Tools", kAtSignature);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->RawData(), signing);
    chosen = SelectCardCertificate(u"Tools", kAtKeyExchange);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->RawData(), decrypting);
    EXPECT_EQ(asked, 0);

    auto signingKey = x509::LoadPrivateKey(testpki::CertificateInMy(signing));
    EXPECT_TRUE(SignsAndVerifies(signingKey.get(), testpki::CertificateInMy(signing)));
    auto decryptingKey = x509::LoadPrivateKey(testpki::CertificateInMy(decrypting));
    EXPECT_TRUE(DecryptsEnvelope(decryptingKey.get(), testpki::CertificateInMy(decrypting)));
}

// A certificate's key usage narrows a pair that its keys allow for both.
TEST_F(OtherToolsTest, TheCertificateKeyUsageNarrowsAPairForBoth) {
    Pkcs11Tool("--keypairgen --key-type rsa:1024 --label both --id 01");
    auto both = Container(u"both");
    const ByteArray signing = testpki::IssueForKey(both.PublicKeyInfo(kAtKeyExchange), "Both", ca_,
                                                   23, "critical,digitalSignature");
    both.SetCertificate(kAtKeyExchange, signing);
    auto again = Container(u"both");
    EXPECT_EQ(FailureOf([&] { again.PublicKeyInfo(kAtKeyExchange); }), kNoKey);
    EXPECT_NO_THROW(again.PublicKeyInfo(kAtSignature));
    const auto chosen = SelectCardCertificate(u"Tools", kAtSignature);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->RawData(), signing);
}

TEST_F(OtherToolsTest, OurPairsServeTheOtherTools) {
    auto ours = KeyContainer::Acquire(u"\\\\.\\Tools\\ours", 0, true);
    ours.GenerateKeyPair(kAtSignature, 1024u << 16);
    ours.GenerateKeyPair(kAtKeyExchange, 1024u << 16);
    ByteArray signId;
    ByteArray exchangeId;
    const ByteArray signing = testpki::IssueForKey(ours.PublicKeyInfo(kAtSignature), "S", ca_, 31);
    const ByteArray exchange =
        testpki::IssueForKey(ours.PublicKeyInfo(kAtKeyExchange), "X", ca_, 32);
    ours.SetCertificate(kAtSignature, signing);
    ours.SetCertificate(kAtKeyExchange, exchange);
    ours.CertificateOf("ours", kAtSignature, 8192, &signId);
    ours.CertificateOf("ours", kAtKeyExchange, 8192, &exchangeId);

    // pkcs11-tool signs with the signing pair and decrypts with the exchange pair.
    const auto folder = tokens_.Folder();
    const std::string data = "signed by another tool";
    std::ofstream(folder / "data", std::ios::binary) << data;
    Pkcs11Tool("--sign -m SHA256-RSA-PKCS --id " + Hex(signId) + " -i '" +
               (folder / "data").string() + "' -o '" + (folder / "signature").string() + "'");
    std::ifstream signatureFile(folder / "signature", std::ios::binary);
    const ByteArray signature{std::istreambuf_iterator<char>(signatureFile), {}};
    const x509::X509Certificate signingCertificate(signing);
    auto verify = Orvel::OpenSsl::Own<EVP_MD_CTX_free>(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_DigestVerifyInit(verify.get(), nullptr, EVP_sha256(), nullptr,
                                   X509_get0_pubkey(signingCertificate.Handle())),
              1);
    EXPECT_EQ(EVP_DigestVerify(verify.get(), signature.data(), signature.size(),
                               reinterpret_cast<const unsigned char*>(data.data()), data.size()),
              1);

    const x509::X509Certificate exchangeCertificate(exchange);
    auto encrypt = Orvel::OpenSsl::Own<EVP_PKEY_CTX_free>(
        EVP_PKEY_CTX_new(X509_get0_pubkey(exchangeCertificate.Handle()), nullptr));
    const std::string secret = "session key";
    std::size_t length = 512;
    ByteArray encrypted(length);
    ASSERT_EQ(EVP_PKEY_encrypt_init(encrypt.get()), 1);
    EVP_PKEY_CTX_set_rsa_padding(encrypt.get(), RSA_PKCS1_PADDING);
    ASSERT_EQ(
        EVP_PKEY_encrypt(encrypt.get(), encrypted.data(), &length,
                         reinterpret_cast<const unsigned char*>(secret.data()), secret.size()),
        1);
    std::ofstream(folder / "encrypted", std::ios::binary)
        .write(reinterpret_cast<const char*>(encrypted.data()), static_cast<long>(length));
    Pkcs11Tool("--decrypt -m RSA-PKCS --id " + Hex(exchangeId) + " -i '" +
               (folder / "encrypted").string() + "' -o '" + (folder / "decrypted").string() + "'");
    std::ifstream decrypted(folder / "decrypted", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(decrypted), {}), secret);

    // p11tool lists both private keys as sensitive and never extractable, the exchange key
    // for unwrapping too, and its URLs lead back to our keys.
    const std::string listing =
        RunTool("GNUTLS_PIN=1234 p11tool --provider '" + module_ +
                "' --login --list-privkeys 'pkcs11:token=Tools;object=ours'");
    std::size_t objects = 0;
    for (std::size_t at = listing.find("Object "); at != std::string::npos; ++objects) {
        const std::size_t next = listing.find("Object ", at + 1);
        const std::string object = listing.substr(at, next - at);
        at = next;
        EXPECT_NE(object.find("CKA_SENSITIVE"), std::string::npos) << object;
        EXPECT_NE(object.find("CKA_NEVER_EXTRACTABLE"), std::string::npos) << object;
        const std::size_t url = object.find("URL: ") + 5;
        const auto link =
            Orvel::Pkcs11::ParseKeyLink(object.substr(url, object.find('\n', url) - url));
        ASSERT_TRUE(link) << object;
        EXPECT_EQ(Orvel::Pkcs11::FindToken(*link).label, "Tools");
        EXPECT_EQ(object.find("CKA_WRAP/UNWRAP") != std::string::npos, link->id == exchangeId)
            << object;
        EXPECT_TRUE(link->id == exchangeId || link->id == signId) << object;
    }
    EXPECT_EQ(objects, 2u) << listing;
}

class TwinTokensTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tokens_.AddToken("Twin");
        tokens_.AddToken("Twin");
        for (const auto& token : Orvel::Pkcs11::AllTokens({testpki::SoftHsmModule(), {}})) {
            if (token.label == "Twin") {
                serials_.push_back(token.serial);
            }
        }
    }
    static std::u16string BySerial(const std::string& serial, const std::u16string& container) {
        const std::string uri = "pkcs11:token=Twin;serial=" + serial;
        return u"\\\\.\\" + std::u16string(uri.begin(), uri.end()) + u"\\" + container;
    }

    testpki::TestTokens tokens_;
    testpki::PrivateStores stores_;
    testpki::Identity ca_ = testpki::MakeIdentity("Test CA");
    std::vector<std::string> serials_;
};

TEST_F(TwinTokensTest, TokensWithOneLabelAreToldApartBySerial) {
    ASSERT_EQ(serials_.size(), 2u);
    ASSERT_NE(serials_[0], serials_[1]);
    auto second = KeyContainer::Acquire(BySerial(serials_[1], u"keys"), 0, true);
    second.GenerateKeyPair(kAtSignature, 1024u << 16);
    const ByteArray certificate =
        testpki::IssueForKey(second.PublicKeyInfo(kAtSignature), "Twin holder", ca_, 41);
    second.SetCertificate(kAtSignature, certificate);
    EXPECT_EQ(FailureOf([&] { KeyContainer::Acquire(BySerial(serials_[0], u"keys"), 0); }),
              kBadKeyset);

    const auto link =
        Orvel::Pkcs11::ParseKeyLink(testpki::CertificateInMy(certificate).KeyProviderLink());
    ASSERT_TRUE(link);
    EXPECT_EQ(link->serial, serials_[1]);
    EXPECT_EQ(Orvel::Pkcs11::FindToken(*link).serial, serials_[1]);
    // A link without a serial number (another tool's) finds the twin that holds the key.
    Orvel::Pkcs11::KeyLink loose{"Twin", link->id, {}, {}, {}, {}};
    EXPECT_EQ(Orvel::Pkcs11::FindToken(loose).serial, serials_[1]);
    auto key = x509::LoadPrivateKey(testpki::CertificateInMy(certificate));
    EXPECT_TRUE(SignsAndVerifies(key.get(), testpki::CertificateInMy(certificate)));
}

TEST_F(TwinTokensTest, UrisThatAskForMoreThanWeCheckAreRefused) {
    EXPECT_EQ(FailureOf([&] {
                  KeyContainer::Acquire(u"\\\\.\\pkcs11:token=Twin;colour=red\\",
                                        kContainerOptional);
              }),
              kNoSmartCard);
    EXPECT_EQ(FailureOf([&] {
                  KeyContainer::Acquire(u"\\\\.\\pkcs11:token=Twin;serial=none\\",
                                        kContainerOptional);
              }),
              kNoSmartCard);
    EXPECT_EQ(FailureOf([&] {
                  KeyContainer::Acquire(u"\\\\.\\pkcs11:token=Twin;slot-id=987654\\",
                                        kContainerOptional);
              }),
              kNoSmartCard);
    EXPECT_NO_THROW(KeyContainer::Acquire(BySerial(serials_.at(0), u""), kContainerOptional));
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=Twin;id=%01;colour=red"));
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=Twin;id=%01;type=cert"));
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=Twin;id=%01;model=%ZZ"));
    EXPECT_FALSE(Orvel::Pkcs11::ParseKeyLink("pkcs11:token=%00Twin;id=%01"));
    // Known attributes that a link may carry beyond ours are checked, not dropped.
    const auto link =
        Orvel::Pkcs11::ParseKeyLink("pkcs11:token=Twin;manufacturer=Nobody;id=%01;type=private");
    ASSERT_TRUE(link);
    EXPECT_THROW(Orvel::Pkcs11::FindToken(*link), Orvel::Pkcs11::Error);
}

}  // namespace
}  // namespace carvix::pki
