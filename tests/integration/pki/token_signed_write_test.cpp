// End to end on the bench, T=0 and T=1: a key pair generated on a private SoftHSM2 token,
// its certificate issued by the test issuer and imported, and the VL variable block written
// with its SOD signed by that key through the user's "My" store. The SOD then verifies with
// the openssl command and names the token's certificate as its signer.
#include "bench_card.h"
#include "carvix/pki/certificate_request.h"
#include "carvix/pki/key_container.h"
#include "carvix/support/base64.h"
#include "test_token.h"
#include "write_session.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;

carvix::testpki::Identity TestIssuer() {
    const std::filesystem::path pki(CARVIX_PKI_DIR);
    carvix::testpki::Identity issuer;
    auto keyFile = Orvel::OpenSsl::Own<BIO_free>(
        BIO_new_file((pki / "TEST-KEY-issuer.key.pem").c_str(), "rb"));
    auto certFile =
        Orvel::OpenSsl::Own<BIO_free>(BIO_new_file((pki / "issuer.cert.pem").c_str(), "rb"));
    issuer.key.reset(PEM_read_bio_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr));
    issuer.certificate.reset(PEM_read_bio_X509(certFile.get(), nullptr, nullptr, nullptr));
    return issuer;
}

// Whether the stored SOD carries the certificate (the signer's, the only one it holds).
bool Carries(const std::vector<std::uint8_t>& sod, const std::vector<std::uint8_t>& certificate) {
    return std::search(sod.begin(), sod.end(), certificate.begin(), certificate.end()) != sod.end();
}

class TokenSignedWrite : public ::testing::TestWithParam<int> {};

TEST_P(TokenSignedWrite, SodSignedOnTheTokenVerifiesWithOpenssl) {
    carvix::testpki::TestTokens tokens;
    carvix::testpki::PrivateStores stores;
    tokens.AddToken("SOD Token");
    const auto issuer = TestIssuer();
    ASSERT_NE(issuer.key, nullptr);
    std::vector<std::uint8_t> certificate;
    {
        auto container = carvix::pki::KeyContainer::Acquire(u"\\\\.\\SOD Token\\signer", 0, true);
        container.GenerateKeyPair(carvix::pki::kAtSignature, 2048u << 16);
        certificate = carvix::testpki::IssueForRequest(
            carvix::pki::CreateCertificateRequest(container, carvix::pki::kAtSignature,
                                                  u"TEST Token Signer"),
            issuer, 0x71);
        container.SetCertificate(carvix::pki::kAtSignature, certificate);
    }

    BenchCard card(SampleImage(kVLVariablePerso.card, GetParam()));
    auto service = NewDocAdmin();
    auto auth = NewAuth();
    ASSERT_EQ(Authenticate(*auth, card.ReaderName(), kVLVariablePerso.appId, WriterKey()), S_OK);
    const int asked = tokens.PinRequests();
    ASSERT_EQ(WriteText(*service, kVLVariablePerso, card.ReaderName(), auth.get(),
                        u"Signed on the token", Orvel::ToBase64(certificate)),
              S_OK);
    EXPECT_EQ(tokens.PinRequests(), asked + 1);

    EXPECT_EQ(CheckSodsWithOpenssl(card.ImagePath()), "");
    EXPECT_TRUE(Carries(ImageFile(card.ImagePath(), kVLVariablePerso.sodId), certificate));
    const auto object = ReadBlock(*service, kVLVariablePerso, card.ReaderName());
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(GetText(*object, kVLVariablePerso.property), u"Signed on the token");
}

TEST_P(TokenSignedWrite, WrongPinLeavesTheCardAsItWas) {
    carvix::testpki::TestTokens tokens;
    carvix::testpki::PrivateStores stores;
    tokens.AddToken("SOD Token");
    const auto issuer = TestIssuer();
    std::vector<std::uint8_t> certificate;
    {
        auto container = carvix::pki::KeyContainer::Acquire(u"\\\\.\\SOD Token\\signer", 0, true);
        container.GenerateKeyPair(carvix::pki::kAtSignature, 2048u << 16);
        certificate = carvix::testpki::IssueForRequest(
            carvix::pki::CreateCertificateRequest(container, carvix::pki::kAtSignature, u"x"),
            issuer, 0x72);
        container.SetCertificate(carvix::pki::kAtSignature, certificate);
    }
    BenchCard card(SampleImage(kVLVariablePerso.card, GetParam()));
    const auto before = ImageFile(card.ImagePath(), kVLVariablePerso.sodId);
    auto service = NewDocAdmin();
    auto auth = NewAuth();
    ASSERT_EQ(Authenticate(*auth, card.ReaderName(), kVLVariablePerso.appId, WriterKey()), S_OK);
    tokens.AnswerPin("0000");
    EXPECT_NE(WriteText(*service, kVLVariablePerso, card.ReaderName(), auth.get(), u"Refused",
                        Orvel::ToBase64(certificate)),
              S_OK);
    EXPECT_EQ(ImageFile(card.ImagePath(), kVLVariablePerso.sodId), before);
}

INSTANTIATE_TEST_SUITE_P(Protocols, TokenSignedWrite, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "T0" : "T1"; });

}  // namespace
