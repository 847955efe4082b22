// Logins, sessions and mechanisms on tokens that SoftHSM2 alone cannot imitate (a PIN about
// to lock, a PIN pad, a token taken out, a token that refuses raw RSA or attribute changes),
// through the test module that wraps SoftHSM2.
#include "carvix/pki/certificate_request.h"
#include "carvix/pki/key_container.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/private_key.h"
#include "carvix/support/x509_store.h"

#include "test_token.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>

namespace carvix::pki {
namespace {

namespace p11 = Orvel::Pkcs11;
namespace x509 = Orvel::Security::Cryptography::X509;
using Orvel::ByteArray;

std::string HexFlags(CK_FLAGS flags) {
    char text[32];
    std::snprintf(text, sizeof text, "%lx", flags);
    return text;
}

// A signature with the key (PKCS#1 v1.5, or PSS) that the certificate's key verifies.
bool SignsAndVerifies(EVP_PKEY* key, const x509::X509Certificate& certificate, bool pss = false) {
    const std::string data = "signed on the token";
    auto ctx = Orvel::OpenSsl::Own<EVP_MD_CTX_free>(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    std::size_t length = 512;
    ByteArray signature(length);
    if (EVP_DigestSignInit(ctx.get(), &pctx, EVP_sha256(), nullptr, key) != 1 ||
        (pss && EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING) != 1) ||
        EVP_DigestSign(ctx.get(), signature.data(), &length,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        return false;
    }
    auto verify = Orvel::OpenSsl::Own<EVP_MD_CTX_free>(EVP_MD_CTX_new());
    EVP_PKEY_CTX* vctx = nullptr;
    return EVP_DigestVerifyInit(verify.get(), &vctx, EVP_sha256(), nullptr,
                                X509_get0_pubkey(certificate.Handle())) == 1 &&
           (!pss || EVP_PKEY_CTX_set_rsa_padding(vctx, RSA_PKCS1_PSS_PADDING) == 1) &&
           EVP_DigestVerify(verify.get(), signature.data(), length,
                            reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
}

class WrappedTokenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tokens_.AddToken("Wrapped");
        // Held for the whole test, so that the module's counters are not reset by unloading.
        modules_ = p11::Modules::Load({testpki::WrapModule::Path(), {}});
    }
    void TearDown() override { p11::SetPinPadNotice({}); }

    KeyContainer Container(bool forKeyGeneration = false) {
        return KeyContainer::Acquire(testpki::WrapModule::Reader("Wrapped") + u"keys", 0,
                                     forKeyGeneration);
    }

    // An exchange pair with its certificate, as "My" holds it with the link to its key.
    x509::X509Certificate Enrol() {
        auto provider = Container(true);
        provider.GenerateKeyPair(kAtKeyExchange, 1024u << 16);
        const ByteArray der = testpki::IssueForRequest(
            CreateCertificateRequest(provider, kAtKeyExchange, u"Holder"), ca_);
        provider.SetCertificate(kAtKeyExchange, der);
        return testpki::CertificateInMy(der);
    }

    std::uint32_t LoadFailure(const x509::X509Certificate& certificate) {
        try {
            x509::LoadPrivateKey(certificate);
        } catch (const Orvel::Win32Exception& e) {
            return e.Code();
        }
        return 0;
    }

    testpki::TestTokens tokens_;
    testpki::WrapModule wrap_;
    testpki::PrivateStores stores_;
    testpki::Identity ca_ = testpki::MakeIdentity("Test CA");
    std::shared_ptr<p11::Modules> modules_;
};

TEST_F(WrappedTokenTest, AReplacementTheTokenRefusesKeepsTheOldPair) {
    auto provider = Container(true);
    provider.GenerateKeyPair(kAtSignature, 1024u << 16);
    const ByteArray old = provider.PublicKeyInfo(kAtSignature);
    wrap_.Set("REFUSE_SET", "1");
    EXPECT_THROW(provider.GenerateKeyPair(kAtSignature, 1024u << 16), std::exception);
    wrap_.Set("REFUSE_SET", "");
    EXPECT_EQ(Container().PublicKeyInfo(kAtSignature), old);

    // Nothing of the refused pair is left behind: one public and one private key.
    auto tokens = modules_->Tokens();
    const auto token = std::find_if(tokens.begin(), tokens.end(),
                                    [](const p11::Token& t) { return t.label == "Wrapped"; });
    ASSERT_NE(token, tokens.end());
    p11::Session session(*token, false);
    session.Login();
    CK_ATTRIBUTE match[] = {{CKA_LABEL, const_cast<char*>("keys"), 4}};
    EXPECT_EQ(session.Find(match).size(), 2u);
}

TEST_F(WrappedTokenTest, AWrongPinIsAskedAgainAndTheSecondTryLogsIn) {
    const auto certificate = Enrol();
    const int logins = wrap_.Logins();
    const std::size_t asked = tokens_.PinQuestions().size();
    tokens_.AnswerPins({"0000", "1234"});
    auto key = x509::LoadPrivateKey(certificate);
    EXPECT_EQ(wrap_.Logins() - logins, 2);
    const auto& questions = tokens_.PinQuestions();
    ASSERT_EQ(questions.size() - asked, 2u);
    EXPECT_EQ(questions[asked].tokenLabel, u"Wrapped");
    EXPECT_EQ(questions[asked].state & p11::kPinWasWrong, 0u);
    EXPECT_NE(questions[asked + 1].state & p11::kPinWasWrong, 0u);
    EXPECT_TRUE(SignsAndVerifies(key.get(), certificate));
}

TEST_F(WrappedTokenTest, APinTheTokenRefusedIsNeverSentAgain) {
    const auto certificate = Enrol();
    const int logins = wrap_.Logins();
    tokens_.AnswerPin("0000");
    EXPECT_EQ(LoadFailure(certificate), 0x8010006Bu);
    EXPECT_EQ(wrap_.Logins() - logins, 1);
    tokens_.AnswerPin("", true);
    EXPECT_EQ(LoadFailure(certificate), 0x8010006Eu);
    EXPECT_EQ(wrap_.Logins() - logins, 1);
}

TEST_F(WrappedTokenTest, ThePromptIsToldTheFinalTryAndALockedPinIsNotAskedFor) {
    const auto certificate = Enrol();
    wrap_.Set("TOKEN_FLAGS", HexFlags(CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY));
    EXPECT_NE(x509::LoadPrivateKey(certificate), nullptr);
    EXPECT_EQ(tokens_.PinQuestions().back().state, p11::kPinCountLow | p11::kPinFinalTry);

    wrap_.Set("TOKEN_FLAGS", HexFlags(CKF_USER_PIN_LOCKED));
    const int logins = wrap_.Logins();
    EXPECT_EQ(LoadFailure(certificate), 0x8010006Cu);
    EXPECT_EQ(wrap_.Logins(), logins);
    EXPECT_NE(tokens_.PinQuestions().back().state & p11::kPinLocked, 0u)
        << "the prompt is shown that the PIN is locked";
}

TEST_F(WrappedTokenTest, APinPadLogsInWithoutAPromptWhileTheNoticeShows) {
    const auto certificate = Enrol();
    wrap_.Set("TOKEN_FLAGS", HexFlags(CKF_PROTECTED_AUTHENTICATION_PATH));
    wrap_.Set("PAD_PIN", "1234");
    std::vector<std::u16string> shown;
    int closed = 0;
    p11::SetPinPadNotice([&](const std::u16string& label) {
        shown.push_back(label);
        return std::function<void()>([&] { ++closed; });
    });
    const std::size_t asked = tokens_.PinQuestions().size();
    const int logins = wrap_.Logins();
    auto key = x509::LoadPrivateKey(certificate);
    EXPECT_EQ(tokens_.PinQuestions().size(), asked);
    EXPECT_EQ(wrap_.Logins() - logins, 1);
    EXPECT_EQ(shown, std::vector<std::u16string>{u"Wrapped"});
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(SignsAndVerifies(key.get(), certificate));
}

TEST_F(WrappedTokenTest, SigningGoesOnAfterTheTokenIsPutBack) {
    const auto certificate = Enrol();
    auto key = x509::LoadPrivateKey(certificate);
    EXPECT_TRUE(SignsAndVerifies(key.get(), certificate));
    // Taken out and put back between two signatures: the session is gone, a new one logs in.
    wrap_.Set("INSERTION", "2");
    EXPECT_TRUE(SignsAndVerifies(key.get(), certificate));
    // While it is away signing fails; once it is back signing works again.
    wrap_.Set("REMOVED", "1");
    EXPECT_FALSE(SignsAndVerifies(key.get(), certificate));
    wrap_.Set("REMOVED", "");
    wrap_.Set("INSERTION", "3");
    EXPECT_TRUE(SignsAndVerifies(key.get(), certificate));
}

TEST_F(WrappedTokenTest, AForkedChildSignsWithItsOwnSession) {
    const auto certificate = Enrol();
    auto key = x509::LoadPrivateKey(certificate);
    ASSERT_TRUE(SignsAndVerifies(key.get(), certificate));
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        _exit(SignsAndVerifies(key.get(), certificate) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(SignsAndVerifies(key.get(), certificate)) << "the parent's session is intact";
}

TEST_F(WrappedTokenTest, PssAndOaepRunAsTokenMechanismsWhereRawRsaIsRefused) {
    wrap_.Set("NO_RAW", "1");
    const auto certificate = Enrol();
    auto key = x509::LoadPrivateKey(certificate);
    EXPECT_TRUE(SignsAndVerifies(key.get(), certificate, true));

    const std::string secret = "oaep secret";
    auto encrypt = Orvel::OpenSsl::Own<EVP_PKEY_CTX_free>(
        EVP_PKEY_CTX_new(X509_get0_pubkey(certificate.Handle()), nullptr));
    std::size_t length = 512;
    ByteArray encrypted(length);
    ASSERT_EQ(EVP_PKEY_encrypt_init(encrypt.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(encrypt.get(), RSA_PKCS1_OAEP_PADDING), 1);
    ASSERT_EQ(
        EVP_PKEY_encrypt(encrypt.get(), encrypted.data(), &length,
                         reinterpret_cast<const unsigned char*>(secret.data()), secret.size()),
        1);
    encrypted.resize(length);
    auto decrypt = Orvel::OpenSsl::Own<EVP_PKEY_CTX_free>(EVP_PKEY_CTX_new(key.get(), nullptr));
    ASSERT_EQ(EVP_PKEY_decrypt_init(decrypt.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(decrypt.get(), RSA_PKCS1_OAEP_PADDING), 1);
    std::size_t plainLength = 512;
    ByteArray plain(plainLength);
    ASSERT_EQ(EVP_PKEY_decrypt(decrypt.get(), plain.data(), &plainLength, encrypted.data(),
                               encrypted.size()),
              1);
    EXPECT_EQ(std::string(plain.begin(), plain.begin() + static_cast<long>(plainLength)), secret);

    const auto used = wrap_.Mechanisms();
    EXPECT_NE(std::find(used.begin(), used.end(), CKM_RSA_PKCS_PSS), used.end());
    EXPECT_NE(std::find(used.begin(), used.end(), CKM_RSA_PKCS_OAEP), used.end());
    EXPECT_EQ(std::find(used.begin(), used.end(), CKM_RSA_X_509), used.end());
}

}  // namespace
}  // namespace carvix::pki
