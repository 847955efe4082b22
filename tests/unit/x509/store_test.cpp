#include "carvix/support/certificate_chooser.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/x509_store.h"
#include "test_pki.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace x509 = Orvel::Security::Cryptography::X509;
using carvix::testpki::MakeIdentity;
using x509::AddDisposition;
using x509::X509Certificate;
using x509::X509Store;

constexpr std::uint32_t kUser = x509::kStoreCurrentUser;

template <typename E, typename F>
std::u16string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return u"(nothing thrown)";
}

template <typename F>
std::uint32_t Win32CodeOf(F&& f, const char* operation) {
    try {
        f();
    } catch (const Orvel::Win32Exception& e) {
        EXPECT_EQ(e.OperationName(), operation);
        return e.Code();
    }
    return 0xFFFFFFFFu;
}

class StoreTest : public ::testing::Test {
  protected:
    carvix::testpki::PrivateStores stores_;
};

TEST_F(StoreTest, OpenAndCloseGuardTheirState) {
    X509Store store;
    EXPECT_EQ(store.Name(), u"My");
    EXPECT_EQ(store.Location(), kUser);
    store.Open(0);
    EXPECT_TRUE(store.IsOpen());
    EXPECT_EQ(MessageOf<x509::X509Exception>([&] { store.Open(0); }),
              u"Certificate store is already opened.");
    store.Close();
    EXPECT_EQ(MessageOf<x509::X509Exception>([&] { store.Close(); }),
              u"Certificate store is already closed.");
    const char16_t* notOpened = u"Certificate store is not opened.";
    X509Certificate certificate(MakeIdentity("A").Der());
    EXPECT_EQ(MessageOf<x509::X509Exception>([&] { store.Add(certificate, AddDisposition::New); }),
              notOpened);
    EXPECT_EQ(MessageOf<x509::X509Exception>([&] { (void)store.Certificates(); }), notOpened);
    EXPECT_EQ(MessageOf<x509::X509Exception>(
                  [&] { (void)store.SelectCertificate(nullptr, u"", u"", 0); }),
              notOpened);
}

TEST_F(StoreTest, OpenFlagsAreChecked) {
    X509Store store;
    for (std::uint32_t bad : {0x9000u, 0x9200u, 0x4000u, 0x1u}) {
        EXPECT_EQ(MessageOf<Orvel::ArgumentException>([&] { store.Open(bad); }),
                  u"Invalid flags specified.")
            << std::hex << bad;
        EXPECT_FALSE(store.IsOpen());
    }
    store.Open(0x8200);
    EXPECT_TRUE(store.IsOpen());
    X509Certificate certificate(MakeIdentity("A").Der());
    EXPECT_EQ(Win32CodeOf([&] { store.Add(certificate, AddDisposition::Always); },
                          "CertAddCertificateContextToStore"),
              5u);
    store.Close();
    store.Open(0x1200);
    store.Add(certificate, AddDisposition::Always);
    EXPECT_EQ(store.Certificates().Count(), 1u);
}

TEST_F(StoreTest, CertificatesAndKeyLinksSurviveReopening) {
    auto holder = MakeIdentity("Holder");
    auto other = MakeIdentity("Other");
    {
        X509Store store;
        store.Open();
        X509Certificate withKey(holder.Der());
        withKey.SetKeyProviderLink("/secret/holder.pem");
        store.Add(withKey, AddDisposition::New);
        store.Add(X509Certificate(other.Der()), AddDisposition::New);
    }
    X509Store again(kUser, u"My");
    again.Open(x509::kStoreReadOnly);
    auto all = again.Certificates();
    ASSERT_EQ(all.Count(), 2u);
    int keys = 0;
    for (const auto& c : all) {
        if (c.RawData() == holder.Der()) {
            EXPECT_TRUE(c.HasPrivateKey());
            EXPECT_EQ(c.KeyProviderLink(), "/secret/holder.pem");
            ++keys;
        } else {
            EXPECT_FALSE(c.HasPrivateKey());
        }
    }
    EXPECT_EQ(keys, 1);
}

TEST_F(StoreTest, AddDispositionsDecideAboutDuplicates) {
    X509Store store;
    store.Open();
    X509Certificate certificate(MakeIdentity("A").Der());
    certificate.SetKeyProviderLink("key.pem");
    store.Add(certificate, AddDisposition::New);
    X509Certificate bare(certificate.RawData());
    EXPECT_EQ(Win32CodeOf([&] { store.Add(bare, AddDisposition::New); },
                          "CertAddCertificateContextToStore"),
              0x80092005u);
    store.Add(bare, AddDisposition::UseExisting);
    EXPECT_TRUE(store.Certificates()[0].HasPrivateKey());
    // A relative key file is found beside the store's certificates.
    EXPECT_EQ(store.Certificates()[0].KeyProviderLink(),
              (stores_.StoreFolder("My") / "key.pem").string());
    store.Add(bare, AddDisposition::ReplaceExistingInheritProperties);
    EXPECT_TRUE(store.Certificates()[0].HasPrivateKey());
    store.Add(bare, AddDisposition::ReplaceExisting);
    ASSERT_EQ(store.Certificates().Count(), 1u);
    EXPECT_FALSE(store.Certificates()[0].HasPrivateKey());
    EXPECT_EQ(Win32CodeOf([&] { store.Add(X509Certificate(), AddDisposition::Always); },
                          "CertAddCertificateContextToStore"),
              0x80070057u);
}

TEST_F(StoreTest, CreateOpenAndDeleteNamedStores) {
    const std::u16string name = u"TempMyStore$";
    X509Store missing(kUser, name);
    EXPECT_EQ(Win32CodeOf([&] { missing.Open(); }, "CertOpenStore"), 2u);
    X509Store created = X509Store::Create(kUser, name);
    EXPECT_FALSE(created.IsOpen());
    EXPECT_EQ(Win32CodeOf([&] { (void)X509Store::Create(kUser, name); }, "CertOpenStore"), 80u);
    created.Open();
    created.Add(X509Certificate(MakeIdentity("A").Der()), AddDisposition::Always);
    EXPECT_EQ(created.Certificates().Count(), 1u);
    created.Close();
    X509Store::Delete(kUser, name);
    EXPECT_FALSE(std::filesystem::exists(stores_.StoreFolder("TempMyStore$")));
    EXPECT_NO_THROW(X509Store::Delete(kUser, name));
    EXPECT_NO_THROW(X509Store::Delete(kUser, u"NeverMade"));
    EXPECT_EQ(Win32CodeOf([&] { missing.Open(); }, "CertOpenStore"), 2u);
}

TEST_F(StoreTest, BadNamesAndLocationsAreRefused) {
    for (const std::u16string& name :
         {std::u16string(u""), std::u16string(u".."), std::u16string(u"a/b")}) {
        X509Store store(kUser, name);
        EXPECT_EQ(Win32CodeOf([&] { store.Open(); }, "CertOpenStore"), 0x80070057u);
        EXPECT_EQ(Win32CodeOf([&] { X509Store::Delete(kUser, name); }, "CertOpenStore"),
                  0x80070057u);
    }
    X509Store elsewhere(0x50000, u"My");
    EXPECT_EQ(Win32CodeOf([&] { elsewhere.Open(); }, "CertOpenStore"), 0x80070057u);
}

TEST_F(StoreTest, DamagedFilesDoNotHideTheRest) {
    X509Store store;
    store.Open();
    store.Add(X509Certificate(MakeIdentity("A").Der()), AddDisposition::Always);
    std::ofstream(stores_.StoreFolder("My") / "0000.der") << "not a certificate";
    EXPECT_EQ(store.Certificates().Count(), 1u);
}

TEST_F(StoreTest, ProcessStoresOpenOnRequest) {
    x509::X509Store& my = x509::CurrentUserStore(0);
    EXPECT_TRUE(my.IsOpen());
    EXPECT_EQ(my.Name(), u"My");
    my.Close();
    EXPECT_EQ(x509::CurrentUserStore(1).Name(), u"AddressBook");
    EXPECT_EQ(x509::CurrentUserStore(2).Name(), u"TrustedPeople");
    x509::CurrentUserStore(1).Close();
    x509::CurrentUserStore(2).Close();
    EXPECT_THROW(x509::CurrentUserStore(3), Orvel::ArgumentOutOfRangeException);
}

// Offers only certificates whose subject mentions "pick", preselecting "pick two".
class PickingStore : public X509Store {
  public:
    using X509Store::X509Store;
    bool Filter(const X509Certificate& c, bool& selected) override {
        bool offered = c.Subject().find(u"pick") != std::u16string::npos;
        selected = c.Subject().find(u"two") != std::u16string::npos;
        return offered;
    }
    bool Display(const X509Certificate&, void* owner) override {
        displayedFor_ = owner;
        return true;
    }
    void* displayedFor_ = nullptr;
};

class ChooserGuard {
  public:
    explicit ChooserGuard(x509::CertificateChooser c)
        : old_(x509::SetCertificateChooser(std::move(c))) {}
    ~ChooserGuard() { x509::SetCertificateChooser(std::move(old_)); }

  private:
    x509::CertificateChooser old_;
};

TEST_F(StoreTest, SelectionOffersWhatTheFilterLetsThrough) {
    PickingStore store(kUser, u"My");
    store.Open();
    for (const char* name : {"pick one", "skip", "pick two"}) {
        store.Add(X509Certificate(MakeIdentity(name).Der()), AddDisposition::Always);
    }
    EXPECT_TRUE(store.SelectCertificate(nullptr, u"T", u"D", 0).IsEmpty());

    int window = 0;
    x509::CertificateChoice seen;
    ChooserGuard guard([&](const x509::CertificateChoice& choice) -> std::optional<std::size_t> {
        seen = choice;
        EXPECT_TRUE(choice.display(choice.offered[0]));
        return 1;
    });
    X509Certificate picked = store.SelectCertificate(&window, u"Title", u"Text", 0x18);
    ASSERT_EQ(seen.offered.size(), 2u);
    EXPECT_EQ(seen.title, u"Title");
    EXPECT_EQ(seen.displayText, u"Text");
    EXPECT_EQ(seen.hiddenColumns, 0x18u);
    EXPECT_EQ(std::count(seen.initiallySelected.begin(), seen.initiallySelected.end(), true), 1);
    EXPECT_EQ(store.displayedFor_, &window);
    ASSERT_FALSE(picked.IsEmpty());
    EXPECT_TRUE(picked.Equals(seen.offered[1]));

    ChooserGuard cancel(
        [](const x509::CertificateChoice&) { return std::optional<std::size_t>(); });
    EXPECT_TRUE(store.SelectCertificate(nullptr, u"", u"", 0).IsEmpty());
    ChooserGuard wild([](const x509::CertificateChoice&) { return std::optional<std::size_t>(9); });
    EXPECT_TRUE(store.SelectCertificate(nullptr, u"", u"", 0).IsEmpty());
}

}  // namespace
