#include "carvix/support/exceptions.h"
#include "carvix/support/x509_certificate.h"
#include "test_pki.h"

#include <gtest/gtest.h>

namespace {

using carvix::testpki::MakeIdentity;
using Orvel::Security::Cryptography::X509::X509Certificate;
using Orvel::Security::Cryptography::X509::X509CertificateCollection;
using Orvel::Security::Cryptography::X509::X509Exception;

const std::u16string kNotInitialized = u"Certificate is not initialized.";

template <typename F>
std::u16string X509MessageOf(F&& f) {
    try {
        f();
    } catch (const X509Exception& e) {
        return e.Message();
    }
    return u"(no X509Exception)";
}

TEST(X509Certificate, ParsesDerAndHandsBackTheSameBytes) {
    auto id = MakeIdentity("Holder");
    X509Certificate certificate(id.Der());
    EXPECT_FALSE(certificate.IsEmpty());
    EXPECT_EQ(certificate.RawData(), id.Der());
    EXPECT_EQ(certificate.Thumbprint().size(), 40u);
    EXPECT_NE(certificate.Subject().find(u"CN=Holder"), std::u16string::npos);
}

TEST(X509Certificate, RefusesBytesThatAreNoCertificate) {
    auto expectCode = [](const carvix::testpki::Bytes& bytes, std::uint32_t code) {
        try {
            X509Certificate c(bytes);
            ADD_FAILURE() << "accepted " << bytes.size() << " bytes";
        } catch (const Orvel::Win32Exception& e) {
            EXPECT_EQ(e.OperationName(), "CertCreateCertificateContext");
            EXPECT_EQ(e.Code(), code);
        }
    };
    expectCode({}, 0x80070057u);
    expectCode({0x04, 0x03, 0x01, 0x02, 0x03}, 0x8009310Bu);
    auto der = MakeIdentity("Holder").Der();
    der.resize(der.size() - 10);
    expectCode(der, 0x8009310Bu);
    der = MakeIdentity("Holder").Der();
    der.push_back(0);
    expectCode(der, 0x8009310Bu);
}

TEST(X509Certificate, EqualityMeansSameIssuerAndSerial) {
    auto issuer = MakeIdentity("Issuer");
    auto first = MakeIdentity("Signer", 7, &issuer);
    auto sameSerial = MakeIdentity("Other key", 7, &issuer);
    auto otherSerial = MakeIdentity("Signer", 8, &issuer);
    X509Certificate a(first.Der());
    EXPECT_TRUE(a.Equals(X509Certificate(first.Der())));
    EXPECT_TRUE(a.Equals(X509Certificate(sameSerial.Der())));
    EXPECT_FALSE(a.Equals(X509Certificate(otherSerial.Der())));
    EXPECT_FALSE(a.Equals(X509Certificate(issuer.Der())));
}

TEST(X509Certificate, EmptyCertificateRefusesEveryQuery) {
    X509Certificate empty;
    X509Certificate full(MakeIdentity("Holder").Der());
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(X509MessageOf([&] { (void)empty.Equals(full); }), kNotInitialized);
    EXPECT_EQ(X509MessageOf([&] { (void)full.Equals(empty); }), kNotInitialized);
    EXPECT_EQ(X509MessageOf([&] { (void)empty.HasPrivateKey(); }), kNotInitialized);
    EXPECT_EQ(X509MessageOf([&] { (void)empty.RawData(); }), kNotInitialized);
    EXPECT_EQ(empty.Handle(), nullptr);
    EXPECT_EQ(empty.KeyProviderLink(), "");
}

TEST(X509Certificate, PrivateKeyFollowsTheKeyLinkSharedByCopies) {
    X509Certificate certificate(MakeIdentity("Holder").Der());
    EXPECT_FALSE(certificate.HasPrivateKey());
    X509Certificate copy = certificate;
    copy.SetKeyProviderLink("/keys/holder.pem");
    EXPECT_TRUE(certificate.HasPrivateKey());
    EXPECT_EQ(certificate.KeyProviderLink(), "/keys/holder.pem");
    copy.SetKeyProviderLink("");
    EXPECT_FALSE(certificate.HasPrivateKey());
    // A context made again from the bytes carries no properties.
    certificate.SetKeyProviderLink("pkcs11:token=t");
    EXPECT_FALSE(X509Certificate(certificate.RawData()).HasPrivateKey());
}

TEST(X509Certificate, CollectionKeepsOrderAndChecksIndices) {
    X509CertificateCollection list;
    X509Certificate a(MakeIdentity("A").Der());
    X509Certificate b(MakeIdentity("B").Der());
    list.Add(a);
    list.Add(b);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list[0].RawData(), a.RawData());
    EXPECT_EQ(list[1].RawData(), b.RawData());
    EXPECT_THROW((void)list[2], Orvel::ArgumentOutOfRangeException);
}

}  // namespace
