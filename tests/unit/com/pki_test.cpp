// CARVIX.PKI on a private SoftHSM2 token: the enrolment flow through the interface, the PEM
// rules of the import, the selection results (including the code of a cancelled choice),
// and the interface's DISPIDs.
#include "carvix/automation/oleauto.h"
#include "carvix/support/base64.h"
#include "carvix/support/certificate_chooser.h"
#include "carvix/support/system_message.h"
#include "pki/pki_service.h"

#include "test_token.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace x509 = Orvel::Security::Cryptography::X509;
using carvix::com::IPKIService;

// A BSTR owned for the length of a test statement.
struct Text {
    explicit Text(const std::u16string& s)
        : b(SysAllocStringLen(s.data(), static_cast<std::uint32_t>(s.size()))) {}
    ~Text() { SysFreeString(b); }
    operator BSTR() const { return b; }
    BSTR b;
};

std::u16string Take(BSTR b) {
    std::u16string s(b, SysStringLen(b));
    SysFreeString(b);
    return s;
}

class PkiServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tokens_.AddToken("Bench Token");
        void* p = nullptr;
        ASSERT_EQ(carvix::com::Create<carvix::com::PKIService>(nullptr, IPKIService::kIid, &p),
                  S_OK);
        pki_ = static_cast<IPKIService*>(p);
    }
    void TearDown() override {
        pki_->Release();
        x509::SetCertificateChooser({});
    }

    // Key pair, request, certificate issued by the test CA: the PEM text of the certificate.
    std::u16string Enrol(const std::u16string& container, std::uint32_t usage, long serial) {
        const Text name(u"\\\\.\\Bench Token\\" + container);
        EXPECT_EQ(pki_->GenerateKeyPair(name, usage, 1024u << 16), S_OK);
        BSTR request = nullptr;
        EXPECT_EQ(pki_->CreateCertificateRequest(name, usage, Text(u"Holder"), 0, &request), S_OK);
        const auto der = Orvel::FromBase64(Take(request));
        const auto certificate = carvix::testpki::IssueForRequest(der, ca_, serial);
        std::u16string base64 = Orvel::ToBase64(certificate);
        std::u16string pem = u"-----BEGIN CERTIFICATE-----\r\n";
        for (std::size_t i = 0; i < base64.size(); i += 64) {
            pem += base64.substr(i, 64) + u"\r\n";
        }
        return pem + u"-----END CERTIFICATE-----\r\n";
    }

    carvix::testpki::TestTokens tokens_;
    carvix::testpki::PrivateStores stores_;
    carvix::testpki::Identity ca_ = carvix::testpki::MakeIdentity("Test CA");
    IPKIService* pki_ = nullptr;
};

TEST_F(PkiServiceTest, EnrolmentFromKeyPairToSelection) {
    const std::u16string pem = Enrol(u"holder", 2, 21);
    ASSERT_EQ(pki_->ImportCertificate(Text(u"\\\\.\\Bench Token\\holder"), 2, Text(pem)), S_OK);
    BSTR chosen = nullptr;
    ASSERT_EQ(pki_->SelectSigningCertificate(Text(u"Bench Token"), &chosen), S_OK);
    const std::u16string selected = Take(chosen);
    EXPECT_EQ(selected.find_first_of(u"\r\n-"), std::u16string::npos);
    EXPECT_NE(pem.find(selected.substr(0, 64)), std::u16string::npos);
    chosen = nullptr;
    EXPECT_EQ(pki_->SelectEncryptionCertificate(Text(u"Bench Token"), &chosen),
              static_cast<HRESULT>(0x8010002Cu));
    EXPECT_EQ(chosen, nullptr);
}

TEST_F(PkiServiceTest, RequestTextWithAndWithoutFraming) {
    const Text name(u"\\\\.\\Bench Token\\req");
    ASSERT_EQ(pki_->GenerateKeyPair(name, 1, 1024u << 16), S_OK);
    BSTR bare = nullptr;
    ASSERT_EQ(pki_->CreateCertificateRequest(name, 1, Text(u""), 0x10000, &bare), S_OK);
    const std::u16string text = Take(bare);
    EXPECT_NE(text.substr(0, 5), u"-----");  // only the low 16 bits ask for the framing
    BSTR framed = nullptr;
    ASSERT_EQ(pki_->CreateCertificateRequest(name, 1, Text(u""), 1, &framed), S_OK);
    const std::u16string pem = Take(framed);
    EXPECT_EQ(pem.rfind(u"-----BEGIN CERTIFICATE REQUEST-----\r\n", 0), 0u);
    EXPECT_EQ(pem.substr(pem.size() - 35), u"\r\n-----END CERTIFICATE REQUEST-----");
    for (std::size_t start = 0, end; (end = text.find(u"\r\n", start)) != std::u16string::npos;
         start = end + 2) {
        EXPECT_EQ(end - start, 64u);
    }
    BSTR untouched = nullptr;
    EXPECT_EQ(pki_->CreateCertificateRequest(Text(u"\\\\.\\Bench Token\\none"), 1, Text(u"x"), 0,
                                             &untouched),
              static_cast<HRESULT>(0x80090016u));
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(pki_->CreateCertificateRequest(name, 1, Text(u"x"), 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(pki_->GenerateKeyPair(name, 1, 1u << 16), static_cast<HRESULT>(0x80090009u));
}

TEST_F(PkiServiceTest, ImportAcceptsPemFramingAndRefusesWhatIsNotBase64) {
    const std::u16string pem = Enrol(u"holder", 1, 22);
    const Text name(u"\\\\.\\Bench Token\\holder");
    // Without the END line the rest still decodes.
    const std::u16string noEnd = pem.substr(0, pem.find(u"-----END"));
    EXPECT_EQ(pki_->ImportCertificate(name, 1, Text(noEnd)), S_OK);
    EXPECT_EQ(pki_->ImportCertificate(name, 1, Text(pem)), S_OK);
    EXPECT_EQ(pki_->ImportCertificate(name, 1, Text(u"not*base64")), E_INVALIDARG);
    EXPECT_EQ(pki_->ImportCertificate(name, 1, Text(Orvel::ToBase64(ca_.Der()))),
              static_cast<HRESULT>(0x80090015u));
    EXPECT_EQ(pki_->ImportCertificate(Text(u"\\\\.\\Bench Token\\nobody"), 1, Text(pem)),
              static_cast<HRESULT>(0x80090016u));
}

TEST_F(PkiServiceTest, CancelledChoiceGivesCancelledByUser) {
    for (long serial : {31L, 32L}) {
        const std::u16string container =
            u"c" + std::u16string(1, static_cast<char16_t>(u'0' + serial % 10));
        const std::u16string pem = Enrol(container, 2, serial);
        ASSERT_EQ(pki_->ImportCertificate(Text(u"\\\\.\\Bench Token\\" + container), 2, Text(pem)),
                  S_OK);
    }
    x509::SetCertificateChooser(
        [](const x509::CertificateChoice&) { return std::optional<std::size_t>{}; });
    BSTR chosen = nullptr;
    EXPECT_EQ(pki_->SelectSigningCertificate(Text(u"Bench Token"), &chosen),
              static_cast<HRESULT>(0x8010006Eu));
    EXPECT_EQ(chosen, nullptr);
    x509::SetCertificateChooser(
        [](const x509::CertificateChoice&) { return std::optional<std::size_t>{1}; });
    ASSERT_EQ(pki_->SelectSigningCertificate(Text(u"Bench Token"), &chosen), S_OK);
    SysFreeString(chosen);
    // The code has its own message text.
    EXPECT_EQ(Orvel::SystemMessageText(0x8010006Eu), u"The action was cancelled by the user.");
}

TEST_F(PkiServiceTest, SelectionArgumentsAndMissingReader) {
    BSTR chosen = nullptr;
    EXPECT_EQ(pki_->SelectSigningCertificate(nullptr, &chosen), E_INVALIDARG);
    EXPECT_EQ(pki_->SelectSigningCertificate(Text(u"Bench Token"), nullptr), E_INVALIDARG);
    EXPECT_EQ(pki_->SelectEncryptionCertificate(Text(u"No Reader"), &chosen),
              static_cast<HRESULT>(0x8010000Cu));
}

TEST_F(PkiServiceTest, DispatchIdsFollowTheSlotOrder) {
    const char16_t* names[] = {u"GenerateKeyPair", u"CreateCertificateRequest",
                               u"ImportCertificate", u"SelectEncryptionCertificate",
                               u"SelectSigningCertificate"};
    for (int i = 0; i < 5; ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(names[i]);
        DISPID id = 0;
        ASSERT_EQ(pki_->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
        EXPECT_EQ(id, i + 1);
    }
}

}  // namespace
