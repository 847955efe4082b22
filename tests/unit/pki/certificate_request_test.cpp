// The request's bytes and text, field by field, and the request a token signs checked by
// the openssl command.
#include "carvix/pki/certificate_request.h"

#include "test_token.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>

namespace carvix::pki {
namespace {

using Orvel::ByteArray;

TEST(RequestTextTest, BreaksIntoLinesOf64WithoutTrailingBreak) {
    const std::u16string text150(150, u'A');
    const std::u16string broken = BreakIntoLines(text150);
    EXPECT_EQ(broken, std::u16string(64, u'A') + u"\r\n" + std::u16string(64, u'A') + u"\r\n" +
                          std::u16string(22, u'A'));
    EXPECT_EQ(BreakIntoLines(std::u16string(128, u'B')),
              std::u16string(64, u'B') + u"\r\n" + std::u16string(64, u'B'));
    EXPECT_EQ(BreakIntoLines(std::u16string(64, u'C')), std::u16string(64, u'C'));
    EXPECT_EQ(BreakIntoLines(u"xyz"), u"xyz");
}

TEST(RequestTextTest, HeaderAndFooterFrameTheLinesWithNothingAfter) {
    const ByteArray der(100, 0x5A);
    const std::u16string bare = RequestText(der, false);
    EXPECT_EQ(bare.find(u"-----"), std::u16string::npos);
    EXPECT_NE(bare.front(), u'\r');
    const std::u16string framed = RequestText(der, true);
    EXPECT_EQ(framed, u"-----BEGIN CERTIFICATE REQUEST-----\r\n" + bare +
                          u"\r\n-----END CERTIFICATE REQUEST-----");
}

TEST(RequestEncodingTest, SubjectIsOneCommonNameAsBmpString) {
    EXPECT_EQ(EncodeCommonNameSubject(u"Ab\u00e9"),
              (ByteArray{0x30, 0x11, 0x31, 0x0F, 0x30, 0x0D, 0x06, 0x03, 0x55, 0x04, 0x03, 0x1E,
                         0x06, 0x00, 0x41, 0x00, 0x62, 0x00, 0xE9}));
    EXPECT_EQ(EncodeCommonNameSubject(u""), (ByteArray{0x30, 0x0B, 0x31, 0x09, 0x30, 0x07, 0x06,
                                                       0x03, 0x55, 0x04, 0x03, 0x1E, 0x00}));
}

TEST(RequestEncodingTest, InformationHasVersionZeroAndEmptyAttributes) {
    const ByteArray spki{0x30, 0x00};
    const ByteArray info = EncodeRequestInfo(u"", spki);
    const ByteArray expected{0x30, 0x14, 0x02, 0x01, 0x00, 0x30, 0x0B, 0x31, 0x09, 0x30, 0x07,
                             0x06, 0x03, 0x55, 0x04, 0x03, 0x1E, 0x00, 0x30, 0x00, 0xA0, 0x00};
    EXPECT_EQ(info, expected);
    const ByteArray request = EncodeRequest(info, ByteArray{0xAB});
    const ByteArray tail{0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                         0x01, 0x01, 0x05, 0x05, 0x00, 0x03, 0x02, 0x00, 0xAB};
    ASSERT_EQ(request.size(), 2 + info.size() + tail.size());
    EXPECT_TRUE(
        std::equal(tail.begin(), tail.end(), request.end() - static_cast<long>(tail.size())));
}

class TokenRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tokens_.AddToken("Enrol");
        auto provider = KeyContainer::Acquire(u"\\\\.\\Enrol\\holder", 0, true);
        provider.GenerateKeyPair(kAtSignature, 1024u << 16);
    }
    testpki::TestTokens tokens_;
};

TEST_F(TokenRequestTest, RequestVerifiesWithOpensslAndCarriesTheTokenKey) {
    auto provider = KeyContainer::Acquire(u"\\\\.\\Enrol\\holder", 0);
    const ByteArray der = CreateCertificateRequest(provider, kAtSignature, u"Holder \u0160");
    const unsigned char* cursor = der.data();
    auto request = Orvel::OpenSsl::Own<X509_REQ_free>(
        d2i_X509_REQ(nullptr, &cursor, static_cast<long>(der.size())));
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(X509_REQ_get_version(request.get()), 0);
    EXPECT_EQ(X509_REQ_get_attr_count(request.get()), 0);
    EXPECT_EQ(X509_REQ_get_signature_nid(request.get()), NID_sha1WithRSAEncryption);
    unsigned char* spki = nullptr;
    const int spkiLength = i2d_PUBKEY(X509_REQ_get0_pubkey(request.get()), &spki);
    EXPECT_EQ(ByteArray(spki, spki + spkiLength), provider.PublicKeyInfo(kAtSignature));
    OPENSSL_free(spki);
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(X509_REQ_get_subject_name(request.get()), 0);
    EXPECT_EQ(ASN1_STRING_type(X509_NAME_ENTRY_get_data(entry)), V_ASN1_BMPSTRING);

    const auto file = tokens_.Folder() / "request.pem";
    const std::u16string text = RequestText(der, true);
    std::ofstream(file) << std::string(text.begin(), text.end());
    const std::string command =
        "openssl req -verify -noout -in '" + file.string() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST_F(TokenRequestTest, KeyUsageWithoutKeyGivesNoKey) {
    auto provider = KeyContainer::Acquire(u"\\\\.\\Enrol\\holder", 0);
    try {
        CreateCertificateRequest(provider, kAtKeyExchange, u"x");
        FAIL();
    } catch (const ProviderError& e) {
        EXPECT_EQ(e.HResult(), kNoKey);
    }
}

}  // namespace
}  // namespace carvix::pki
