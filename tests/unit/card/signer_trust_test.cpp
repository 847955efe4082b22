// The chain check of a SOD's signer against anchor folders: the outcomes and their reasons,
// the folders' rules, the memory kept with the verification, and the policy.
#include "carvix/card/signer_trust.h"
#include "carvix/card/signed_message.h"
#include "carvix/card/trust_anchors.h"
#include "carvix/support/exceptions.h"
#include "test_pki.h"

#include <sys/stat.h>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

namespace fs = std::filesystem;
namespace card = carvix::card;
using carvix::testpki::Bytes;
using carvix::testpki::Identity;
using carvix::testpki::TempFolder;
using Orvel::OpenSsl::Own;

constexpr long kDay = 24 * 3600;

struct CertificateRecipe {
    std::string commonName;
    const Identity* issuer = nullptr;  // self-signed without
    bool ca = false;
    std::string keyUsage = "critical,digitalSignature";  // "" for none
    long notBefore = -kDay;                              // seconds from now
    long notAfter = 365 * kDay;
    long serial = 1;
};

Identity Make(const CertificateRecipe& recipe) {
    Identity id;
    id.key.reset(EVP_RSA_gen(2048));
    id.certificate.reset(X509_new());
    X509* x = id.certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), recipe.serial);
    X509_gmtime_adj(X509_getm_notBefore(x), recipe.notBefore);
    X509_gmtime_adj(X509_getm_notAfter(x), recipe.notAfter);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(recipe.commonName.c_str()),
                               -1, -1, 0);
    X509* issuerCert = recipe.issuer != nullptr ? recipe.issuer->certificate.get() : x;
    X509_set_issuer_name(x, X509_get_subject_name(issuerCert));
    X509_set_pubkey(x, id.key.get());
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuerCert, x, nullptr, nullptr, 0);
    auto add = [&](int nid, const std::string& value) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
        ASSERT_NE(extension, nullptr);
        X509_add_ext(x, extension, -1);
        X509_EXTENSION_free(extension);
    };
    add(NID_basic_constraints, recipe.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    const std::string usage = recipe.ca ? "critical,keyCertSign,cRLSign" : recipe.keyUsage;
    if (!usage.empty()) {
        add(NID_key_usage, usage);
    }
    EVP_PKEY* signingKey = recipe.issuer != nullptr ? recipe.issuer->key.get() : id.key.get();
    X509_sign(x, signingKey, EVP_sha256());
    return id;
}

std::string Pem(X509* certificate) {
    auto bio = Own<BIO_free>(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), certificate);
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

// A list of `issuer` naming `serials` as revoked, valid from yesterday for a week.
std::string CrlPem(const Identity& issuer, std::initializer_list<long> serials) {
    auto crl = Own<X509_CRL_free>(X509_CRL_new());
    X509_CRL_set_version(crl.get(), 1);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer.certificate.get()));
    auto last = Own<ASN1_TIME_free>(X509_gmtime_adj(nullptr, -kDay));
    auto next = Own<ASN1_TIME_free>(X509_gmtime_adj(nullptr, 7 * kDay));
    X509_CRL_set1_lastUpdate(crl.get(), last.get());
    X509_CRL_set1_nextUpdate(crl.get(), next.get());
    for (long serial : serials) {
        X509_REVOKED* revoked = X509_REVOKED_new();
        auto number = Own<ASN1_INTEGER_free>(ASN1_INTEGER_new());
        ASN1_INTEGER_set(number.get(), serial);
        X509_REVOKED_set_serialNumber(revoked, number.get());
        X509_REVOKED_set_revocationDate(revoked, last.get());
        X509_CRL_add0_revoked(crl.get(), revoked);
    }
    X509_CRL_sort(crl.get());
    X509_CRL_sign(crl.get(), issuer.key.get(), EVP_sha256());
    auto bio = Own<BIO_free>(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509_CRL(bio.get(), crl.get());
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

void Write(const fs::path& file, const std::string& text, mode_t mode = 0644) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    ::chmod(file.c_str(), mode);
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
            had_ = true;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_) {
            ::setenv(name_, saved_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

class SignerTrustTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ca_ = new Identity(
            Make({.commonName = "TEST Country CA", .ca = true, .notBefore = -365 * kDay}));
        other_ = new Identity(Make({.commonName = "TEST Other CA", .ca = true}));
        signer_ = new Identity(Make({.commonName = "TEST Signer", .issuer = ca_, .serial = 2}));
    }
    static void TearDownTestSuite() {
        delete signer_;
        delete other_;
        delete ca_;
    }

    // A set of the given PEM texts, one file each, in a folder of the user's scope.
    std::shared_ptr<const card::AnchorSet> SetOf(std::initializer_list<std::string> pems) {
        int n = 0;
        for (const std::string& pem : pems) {
            Write(folder_.Path() / ("anchor" + std::to_string(n++) + ".pem"), pem);
        }
        return card::AnchorSet::FromFolders({{folder_.Path(), card::AnchorScope::User}}, true);
    }

    static card::SignerTrust Check(const card::AnchorSet& set, const Identity& signer,
                                   std::optional<std::time_t> at = std::nullopt) {
        return card::CheckSignerTrust(set, signer.certificate.get(), nullptr, at);
    }

    TempFolder folder_;
    static Identity* ca_;
    static Identity* other_;
    static Identity* signer_;
};
Identity* SignerTrustTest::ca_ = nullptr;
Identity* SignerTrustTest::other_ = nullptr;
Identity* SignerTrustTest::signer_ = nullptr;

TEST_F(SignerTrustTest, OutcomesAndReasons) {
    const auto none = SetOf({});
    EXPECT_EQ(Check(*none, *signer_).status, card::TrustStatus::NotChecked);

    const auto anchors = SetOf({Pem(ca_->certificate.get())});
    ASSERT_TRUE(anchors->HasCertificates());
    EXPECT_EQ(Check(*anchors, *signer_).status, card::TrustStatus::Trusted);

    const Identity selfSigned = Make({.commonName = "Anyone"});
    const Identity byOther = Make({.commonName = "TEST Signer", .issuer = other_, .serial = 2});
    const Identity expired = Make({.commonName = "Old",
                                   .issuer = ca_,
                                   .notBefore = -30 * kDay,
                                   .notAfter = -kDay,
                                   .serial = 3});
    const Identity encipherOnly = Make({.commonName = "Encipher",
                                        .issuer = ca_,
                                        .keyUsage = "critical,keyEncipherment",
                                        .serial = 4});
    const Identity noUsage =
        Make({.commonName = "Plain", .issuer = ca_, .keyUsage = "", .serial = 5});
    const Identity nonRepudiation = Make(
        {.commonName = "NR", .issuer = ca_, .keyUsage = "critical,nonRepudiation", .serial = 6});

    struct Case {
        const char* what;
        const Identity* signer;
        card::TrustStatus status;
        card::DistrustReason reason;
        std::uint32_t code;
    };
    const Case cases[] = {
        {"self-signed", &selfSigned, card::TrustStatus::Untrusted,
         card::DistrustReason::UnknownIssuer, 0x800B0109u},
        {"same name, other issuer", &byOther, card::TrustStatus::Untrusted,
         card::DistrustReason::UnknownIssuer, 0x800B0109u},
        {"expired", &expired, card::TrustStatus::Untrusted, card::DistrustReason::Expired,
         0x800B0101u},
        {"key usage without signing", &encipherOnly, card::TrustStatus::Untrusted,
         card::DistrustReason::WrongUsage, 0x800B0110u},
        {"no key usage at all", &noUsage, card::TrustStatus::Trusted, card::DistrustReason::None,
         0u},
        {"non-repudiation", &nonRepudiation, card::TrustStatus::Trusted, card::DistrustReason::None,
         0u},
    };
    for (const Case& c : cases) {
        const card::SignerTrust trust = Check(*anchors, *c.signer);
        EXPECT_EQ(trust.status, c.status) << c.what << ": " << trust.detail;
        EXPECT_EQ(trust.reason, c.reason) << c.what;
        EXPECT_EQ(static_cast<std::uint32_t>(card::TrustFailureCode(trust)), c.code) << c.what;
    }
    // Valid at the time it signed: a signature made before the certificate ran out still counts.
    EXPECT_EQ(Check(*anchors, expired, std::time(nullptr) - 3 * kDay).status,
              card::TrustStatus::Trusted);
    EXPECT_EQ(card::TrustText(Check(*anchors, expired)), "untrusted (expired)");
    EXPECT_EQ(card::TrustText(Check(*none, *signer_)), "trust not checked");
}

TEST_F(SignerTrustTest, RevocationListsAreCheckedWhereTheyExist) {
    const Identity revoked = Make({.commonName = "Revoked", .issuer = ca_, .serial = 7});
    const Identity other = Make({.commonName = "Fine", .issuer = other_, .serial = 7});
    const auto set =
        SetOf({Pem(ca_->certificate.get()) + CrlPem(*ca_, {7}), Pem(other_->certificate.get())});
    EXPECT_TRUE(set->HasCrls());
    const card::SignerTrust trust = Check(*set, revoked);
    EXPECT_EQ(trust.reason, card::DistrustReason::Revoked) << trust.detail;
    EXPECT_EQ(static_cast<std::uint32_t>(card::TrustFailureCode(trust)), 0x80092010u);
    EXPECT_EQ(Check(*set, *signer_).status, card::TrustStatus::Trusted) << "serial 2 not listed";
    // An issuer without a list is not held against its signers.
    EXPECT_EQ(Check(*set, other).status, card::TrustStatus::Trusted);
}

TEST_F(SignerTrustTest, FoldersTakeOnlyFilesTheirOwnerAloneCouldHaveWritten) {
    Write(folder_.Path() / "ca.pem", Pem(ca_->certificate.get()));
    const Bytes der = ca_->Der();
    Write(folder_.Path() / "other.der", std::string(der.begin(), der.end()), 0664);
    Write(folder_.Path() / "notes.txt", "not a certificate\n");
    auto set = card::AnchorSet::FromFolders({{folder_.Path(), card::AnchorScope::User}}, true);
    ASSERT_EQ(set->Files().size(), 1u);
    EXPECT_EQ(set->Files()[0].subject, "CN=TEST Country CA");
    ASSERT_EQ(set->Warnings().size(), 2u);
    EXPECT_NE(set->Warnings()[0].find("no certificate or revocation list"), std::string::npos);
    EXPECT_NE(set->Warnings()[1].find("writable by group or others"), std::string::npos);

    ::chmod((folder_.Path() / "other.der").c_str(), 0644);
    auto fixed = card::AnchorSet::FromFolders({{folder_.Path(), card::AnchorScope::User}}, true);
    EXPECT_EQ(fixed->Files().size(), 2u) << "DER is read as well";
    EXPECT_NE(fixed->Id(), set->Id());

    ::chmod(folder_.Path().c_str(), 0777);
    auto open = card::AnchorSet::FromFolders({{folder_.Path(), card::AnchorScope::User}}, true);
    EXPECT_FALSE(open->HasCertificates()) << "a folder anyone can write to is not used";
    ::chmod(folder_.Path().c_str(), 0700);
}

TEST_F(SignerTrustTest, TheResultIsRememberedPerMessageAndAnchorSet) {
    TempFolder config;
    const ScopedEnv xdg("XDG_CONFIG_HOME", config.Path().string());
    const ScopedEnv dir(card::kTrustFolderVariable, folder_.Path().string());
    ForgetVerifiedMessages();
    const Bytes content(64, 0x5A);
    const Bytes message = carvix::testpki::SignMessage(content, *signer_);
    (void)VerifySignedMessage(message);  // the verification the trust is kept with

    EXPECT_EQ(card::SodSignerTrust(message).status, card::TrustStatus::NotChecked);
    Write(folder_.Path() / "ca.pem", Pem(ca_->certificate.get()));
    EXPECT_EQ(card::SodSignerTrust(message).status, card::TrustStatus::Trusted);
    EXPECT_EQ(card::SodSignerTrust(message).status, card::TrustStatus::Trusted) << "remembered";
    // Another set of anchors is asked afresh.
    Write(folder_.Path() / "ca.pem", Pem(other_->certificate.get()));
    EXPECT_EQ(card::SodSignerTrust(message).reason, card::DistrustReason::UnknownIssuer);

    // A signing time among the signed attributes is the time the chain is checked at.
    const Identity expired = Make({.commonName = "Old",
                                   .issuer = ca_,
                                   .notBefore = -30 * kDay,
                                   .notAfter = -kDay,
                                   .serial = 3});
    Write(folder_.Path() / "ca.pem", Pem(ca_->certificate.get()));
    const Bytes now =
        carvix::testpki::SignMessage(content, expired, carvix::testpki::SignedAttributes::Default);
    EXPECT_EQ(card::SodSignerTrust(now).reason, card::DistrustReason::Expired);
    ForgetVerifiedMessages();
}

TEST_F(SignerTrustTest, ThePolicyFailsUntrustedReadsWithTheReasonsCode) {
    const card::SignerTrust trusted{
        card::TrustStatus::Trusted, card::DistrustReason::None, {}, false};
    const card::SignerTrust notChecked{};
    const card::SignerTrust revoked{card::TrustStatus::Untrusted, card::DistrustReason::Revoked,
                                    "certificate revoked", false};
    // Without the setting nothing fails.
    EXPECT_NO_THROW(card::EnforceTrustPolicy(revoked, 0x0D01, u"CN=X"));

    Write(folder_.Path() / "policy", "# site policy\nrequire-trusted-signer = yes\n");
    const ScopedEnv policy(card::kTrustPolicyVariable, (folder_.Path() / "policy").string());
    EXPECT_TRUE(card::TrustedSignerRequired());
    EXPECT_NO_THROW(card::EnforceTrustPolicy(trusted, 0x0D01, u"CN=X"));
    try {
        card::EnforceTrustPolicy(revoked, 0x0D01, u"CN=X");
        ADD_FAILURE() << "no exception";
    } catch (const CardException& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Code()), 0x80092010u);
        EXPECT_EQ(e.Message(),
                  u"The signer of block with ID 0x0D01 is not trusted (revoked: certificate "
                  u"revoked); signer: CN=X. Trusted signers are required by "
                  u"/etc/carvix-qx/trust-policy.");
    }
    try {
        card::EnforceTrustPolicy(notChecked, 0x0D02, u"CN=X");
        ADD_FAILURE() << "no exception";
    } catch (const CardException& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Code()), 0x800B0109u);
    }
    // A file others could have written sets nothing.
    Write(folder_.Path() / "policy", "require-trusted-signer = yes\n", 0666);
    EXPECT_FALSE(card::TrustedSignerRequired());
    Write(folder_.Path() / "policy", "require-trusted-signer = no\n");
    EXPECT_FALSE(card::TrustedSignerRequired());
}

}  // namespace
