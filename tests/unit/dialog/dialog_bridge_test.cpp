// What the module sends to the desktop dialog when no hook is installed, byte for byte, with a
// stand-in program (fake-dialog.sh): the reader selection with what each card is, the
// certificate chooser with validity and key location, the PIN prompt and a warning.
#include "carvix/automation/host_hooks.h"
#include "carvix/automation/oleauto.h"
#include "carvix/com/notifier.h"
#include "carvix/support/certificate_chooser.h"
#include "fake_dialog.h"
#include "fake_readers.h"
#include "host/host_bridge.h"
#include "smartcard/smartcard_service.h"
#include "test_pki.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace x509 = Orvel::Security::Cryptography::X509;
using carvix::testing::FakeDialog;
using Card = fake::Readers::Card;
using Lines = std::vector<std::string>;

class DialogBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        void* p = nullptr;
        ASSERT_EQ(carvix::com::Create<carvix::com::SmartCardService>(
                      nullptr, carvix::com::ISmartCardService::kIid, &p),
                  S_OK);
        service = static_cast<carvix::com::ISmartCardService*>(p);
    }
    void TearDown() override {
        service->Release();
        EXPECT_EQ(pcsc.cardsConnected, 0);
    }

    std::string Select() {
        BSTR name = nullptr;
        const HRESULT hr = service->SelectReader(&name);
        if (hr != S_OK) {
            return "failed";
        }
        std::string out(name, name + SysStringLen(name));
        SysFreeString(name);
        return out;
    }

    fake::Readers pcsc;
    carvix::com::ISmartCardService* service = nullptr;
};

TEST_F(DialogBridge, TheReaderSelectionShowsWhatEachCardIsAndTakesThePickByName) {
    FakeDialog dialog("OK 1 B");
    pcsc.Add("A", Card{.vl = true});
    pcsc.Add("Empty");
    pcsc.Add("B", Card{.zk = true});
    pcsc.Add("C D", Card{.vl = true, .zk = true});
    EXPECT_EQ(Select(), "B");
    EXPECT_EQ(dialog.Lines(),
              (Lines{"CHOOSE-READER Choose%20the%20reader%20that%20holds%20the%20identity%20card "
                     "A vl B zk C%20D vl,zk",
                     "BYE"}));
}

TEST_F(DialogBridge, WithNoCardTheDialogWaitsAndItsCancelEndsTheSelection) {
    FakeDialog dialog("ERR cancelled");
    pcsc.Add("Empty");
    EXPECT_EQ(Select(), "failed");
    EXPECT_EQ(dialog.Lines(),
              (Lines{"CHOOSE-READER Choose%20the%20reader%20that%20holds%20the%20identity%20card",
                     "BYE"}));
    // A pick naming a reader that is not offered is no answer: the list is shown again.
    FakeDialog stale("OK 0 Gone");
    pcsc.Add("A", Card{.vl = true});
    pcsc.Add("B", Card{.vl = true});
    pcsc.changes.push_back([](fake::Readers&) {});  // a quiet moment: offered again
    pcsc.changes.push_back([](fake::Readers& r) { r.Insert(2, std::nullopt); });
    EXPECT_EQ(Select(), "A") << "after B's card went, only A qualifies and is taken";
    const std::string shown =
        "CHOOSE-READER Choose%20the%20reader%20that%20holds%20the%20identity%20card A vl B vl";
    EXPECT_EQ(stale.Lines(), (Lines{shown, shown, "BYE"}));
}

TEST(DialogBridgeCertificates, TheChooserGetsValidityAndWhereEachKeyIs) {
    const auto issuer = carvix::testpki::MakeIdentity("Dialog Issuer", 1);
    const auto first = carvix::testpki::MakeIdentity("Dialog One", 2, &issuer);
    const auto second = carvix::testpki::MakeIdentity("Dialog Two", 3, &issuer);
    x509::CertificateChoice choice;
    choice.title = u"Signer";
    choice.offered = {x509::X509Certificate(first.certificate.get()),
                      x509::X509Certificate(second.certificate.get())};
    choice.offered[0].SetKeyProviderLink("/home/u/one key.pem");
    choice.offered[1].SetKeyProviderLink("pkcs11:token=Signing%20token;id=%01;type=private");
    choice.initiallySelected = {false, true};

    FakeDialog dialog("OK 1");
    EXPECT_EQ(carvix::com::AskHostChooser(choice), std::optional<std::size_t>(1));
    const Lines lines = dialog.Lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string& line = lines[0];
    EXPECT_EQ(line.rfind("CHOOSE-CERTIFICATE Signer  CN=Dialog%20One", 0), 0u) << line;
    EXPECT_NE(line.find(" file /home/u/one%20key.pem " + choice.offered[0].Thumbprint() + " - "),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(" token Signing%20token " + choice.offered[1].Thumbprint() + " selected"),
              std::string::npos)
        << line;
    // Both validity bounds, "YYYY-MM-DD HH:MM:SS".
    EXPECT_EQ(std::count(line.begin(), line.end(), ':'), 8) << line;
}

TEST(DialogBridgePin, ThePinComesFromTheDialogAndAWarningIsAMessageBox) {
    {
        FakeDialog dialog("OK 12%2034");
        Orvel::Pkcs11::SecretText pin;
        EXPECT_TRUE(carvix::com::AskHostPin(u"Signing token", pin));
        EXPECT_EQ(std::string(pin.Data(), pin.Data() + pin.Size()), "12 34");
        EXPECT_EQ(dialog.Lines(), (Lines{"GET-PIN Signing%20token - normal", "BYE"}));
    }
    {
        FakeDialog dialog("ERR cancelled");
        Orvel::Pkcs11::SecretText pin;
        EXPECT_FALSE(carvix::com::AskHostPin(u"Signing token", pin));
        EXPECT_EQ(pin.Size(), 0u);
    }
    {
        // Another try after a wrong PIN, with few tries left: the dialog is told both.
        FakeDialog dialog("OK 4321");
        Orvel::Pkcs11::SecretText pin;
        EXPECT_TRUE(carvix::com::AskHostPin(
            Orvel::Pkcs11::PinRequest{u"Signing token", 2,
                                      CARVIX_PIN_COUNT_LOW | CARVIX_PIN_WAS_WRONG},
            pin));
        EXPECT_EQ(dialog.Lines(), (Lines{"GET-PIN Signing%20token 2 count-low+wrong", "BYE"}));
    }
    FakeDialog dialog("OK");
    carvix::com::ShowWarning(u"The card was removed.");
    EXPECT_EQ(dialog.Lines(), (Lines{"MESSAGE Tessaro The%20card%20was%20removed. 48", "BYE"}));
}

}  // namespace
