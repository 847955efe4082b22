// The host hooks of the runtime as a host installs them and the module asks them: the
// certificate chooser (never a silent pick), the notifier (standard error without one), and
// the module's bridge from the support library's certificate question.
#include "carvix/automation/host_hooks.h"
#include "carvix/com/notifier.h"
#include "host/host_bridge.h"

#include "carvix/support/certificate_chooser.h"
#include "carvix/support/x509_store.h"
#include "test_pki.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

namespace x509 = Orvel::Security::Cryptography::X509;

// What a hook saw, and what it answers.
struct Host {
    std::int32_t answer = 1;
    std::uint32_t index = 0;
    int calls = 0;
    std::u16string title;
    std::vector<std::u16string> subjects;
    std::vector<std::u16string> issuers;
    std::vector<std::u16string> notAfter;
    std::vector<std::u16string> thumbprints;
    std::vector<std::vector<std::uint8_t>> ders;
    std::vector<std::int32_t> selected;
    std::vector<std::u16string> notices;
    std::uint32_t style = 0;

    static std::int32_t Choose(void* context, const char16_t* title, const char16_t*,
                               const CarvixCertificateOffer* offers, std::uint32_t count,
                               std::uint32_t* chosen) {
        auto& self = *static_cast<Host*>(context);
        ++self.calls;
        self.title = title;
        for (std::uint32_t i = 0; i < count; ++i) {
            self.subjects.push_back(offers[i].subject);
            self.issuers.push_back(offers[i].issuer);
            self.notAfter.push_back(offers[i].notAfter);
            self.thumbprints.push_back(offers[i].thumbprint);
            self.ders.emplace_back(offers[i].der, offers[i].der + offers[i].derLength);
            self.selected.push_back(offers[i].initiallySelected);
        }
        *chosen = self.index;
        return self.answer;
    }
    static void Notice(void* context, const char16_t* caption, const char16_t* text,
                       std::uint32_t style) {
        auto& self = *static_cast<Host*>(context);
        self.notices.push_back(std::u16string(caption) + u": " + text);
        self.style = style;
    }
};

const CarvixCertificateOffer kTwo[] = {
    {u"CN=A", u"CN=I", u"2030-01-01 00:00:00", u"AA", nullptr, 0, 0},
    {u"CN=B", u"CN=I", u"2030-01-01 00:00:00", u"BB", nullptr, 0, 0},
};

class HostHooks : public ::testing::Test {
  protected:
    void TearDown() override {
        CarvixSetCertificateChooser(nullptr, nullptr);
        CarvixSetNotifier(nullptr, nullptr);
    }
    Host host;
};

TEST_F(HostHooks, WithoutAChooserEveryQuestionIsACancel) {
    std::uint32_t chosen = 7;
    EXPECT_EQ(CarvixChooseCertificate(u"t", u"d", kTwo, 2, &chosen), 0);
    EXPECT_EQ(chosen, 7u);
}

TEST_F(HostHooks, TheChooserGetsItsContextAndTheOffers) {
    CarvixSetCertificateChooser(&Host::Choose, &host);
    host.index = 1;
    std::uint32_t chosen = 7;
    EXPECT_EQ(CarvixChooseCertificate(u"Pick", nullptr, kTwo, 2, &chosen), 1);
    EXPECT_EQ(chosen, 1u);
    EXPECT_EQ(host.title, u"Pick");
    EXPECT_EQ(host.subjects, (std::vector<std::u16string>{u"CN=A", u"CN=B"}));
}

TEST_F(HostHooks, CancelsAndBadAnswersLeaveNoChoice) {
    CarvixSetCertificateChooser(&Host::Choose, &host);
    std::uint32_t chosen = 7;
    host.answer = 0;
    EXPECT_EQ(CarvixChooseCertificate(u"", u"", kTwo, 2, &chosen), 0);
    host.answer = 1;
    host.index = 2;  // past the end
    EXPECT_EQ(CarvixChooseCertificate(u"", u"", kTwo, 2, &chosen), 0);
    EXPECT_EQ(chosen, 7u);
    const int asked = host.calls;
    EXPECT_EQ(CarvixChooseCertificate(u"", u"", kTwo, 0, &chosen), 0);
    EXPECT_EQ(CarvixChooseCertificate(u"", u"", nullptr, 2, &chosen), 0);
    EXPECT_EQ(CarvixChooseCertificate(u"", u"", kTwo, 2, nullptr), 0);
    EXPECT_EQ(host.calls, asked) << "nothing to ask, nobody asked";
    CarvixSetCertificateChooser(nullptr, &host);
    EXPECT_EQ(CarvixChooseCertificate(u"", u"", kTwo, 2, &chosen), 0);
}

TEST_F(HostHooks, NoticesGoToTheHostOrToStandardError) {
    CarvixSetNotifier(&Host::Notice, &host);
    carvix::com::ShowWarning(u"Card was removed.");
    EXPECT_EQ(host.notices, std::vector<std::u16string>{u"Tessaro: Card was removed."});
    EXPECT_EQ(host.style, carvix::com::kWarningStyle);

    CarvixSetNotifier(nullptr, nullptr);
    ::testing::internal::CaptureStderr();
    carvix::com::ShowWarning(u"Чип");
    CarvixNotify(nullptr, nullptr, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Tessaro: Чип\n: \n");
    EXPECT_EQ(host.notices.size(), 1u);
}

TEST_F(HostHooks, TheModulesOwnNotifierComesFirst) {
    CarvixSetNotifier(&Host::Notice, &host);
    static int own = 0;
    carvix::com::SetNotifier([](const char16_t*, const char16_t*, std::uint32_t) { ++own; });
    carvix::com::ShowWarning(u"x");
    carvix::com::SetNotifier(nullptr);
    EXPECT_EQ(own, 1);
    EXPECT_TRUE(host.notices.empty());
}

// The support library's question, put to the host by the module's bridge.
TEST_F(HostHooks, TheBridgeOffersEachCertificateWithItsDescription) {
    const auto issuer = carvix::testpki::MakeIdentity("Bridge Issuer", 1);
    const auto first = carvix::testpki::MakeIdentity("Bridge One", 2, &issuer);
    const auto second = carvix::testpki::MakeIdentity("Bridge Two", 3, &issuer);
    x509::CertificateChoice choice;
    choice.title = u"Signer";
    choice.offered = {x509::X509Certificate(first.certificate.get()),
                      x509::X509Certificate(second.certificate.get())};
    choice.initiallySelected = {false, true};

    EXPECT_EQ(carvix::com::AskHostChooser(choice), std::nullopt) << "no host chooser: cancel";

    CarvixSetCertificateChooser(&Host::Choose, &host);
    host.index = 1;
    EXPECT_EQ(carvix::com::AskHostChooser(choice), std::optional<std::size_t>(1));
    ASSERT_EQ(host.subjects.size(), 2u);
    EXPECT_NE(host.subjects[0].find(u"CN=Bridge One"), std::u16string::npos);
    EXPECT_NE(host.issuers[1].find(u"CN=Bridge Issuer"), std::u16string::npos);
    EXPECT_EQ(host.notAfter[0].size(), 19u);
    const std::string thumbprint = choice.offered[1].Thumbprint();
    EXPECT_EQ(host.thumbprints[1], std::u16string(thumbprint.begin(), thumbprint.end()));
    EXPECT_EQ(host.ders[0], first.Der());
    EXPECT_EQ(host.selected, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(host.title, u"Signer");

    host.answer = 0;
    EXPECT_EQ(carvix::com::AskHostChooser(choice), std::nullopt);
}

TEST_F(HostHooks, OnceBridgedTheStoresSelectionAsksTheHost) {
    const auto previous = x509::SetCertificateChooser({});
    carvix::com::BridgeCertificateChooser();
    CarvixSetCertificateChooser(&Host::Choose, &host);
    x509::CertificateChoice choice;
    const auto one = carvix::testpki::MakeIdentity("Bridged", 5);
    choice.offered = {x509::X509Certificate(one.certificate.get())};
    EXPECT_EQ(x509::GetCertificateChooser()(choice), std::optional<std::size_t>(0));
    EXPECT_EQ(host.calls, 1);
    x509::SetCertificateChooser(previous);
}

}  // namespace

namespace {

// The PIN prompt: what the module gets, and that a cancel leaves nothing behind.
struct PinHost {
    std::string pin = "2468";
    std::int32_t answer = 1;
    std::u16string asked;

    static std::int32_t Ask(void* context, const char16_t* label, char* pin, std::uint32_t capacity,
                            std::uint32_t* length) {
        auto& self = *static_cast<PinHost*>(context);
        self.asked = label;
        const std::size_t n = std::min<std::size_t>(self.pin.size(), capacity);
        std::copy_n(self.pin.data(), n, pin);
        *length = self.answer != 0 ? static_cast<std::uint32_t>(n) : 0;
        return self.answer;
    }
};

TEST(PinPromptTest, ModuleGetsThePinThroughTheBridge) {
    PinHost host;
    CarvixSetPinPrompt(&PinHost::Ask, &host);
    Orvel::Pkcs11::SecretText pin;
    EXPECT_TRUE(carvix::com::AskHostPin(u"Token 1", pin));
    EXPECT_EQ(std::string(pin.Data(), pin.Size()), "2468");
    EXPECT_EQ(host.asked, u"Token 1");

    host.answer = 0;
    Orvel::Pkcs11::SecretText cancelled;
    EXPECT_FALSE(carvix::com::AskHostPin(u"Token 1", cancelled));
    EXPECT_EQ(cancelled.Size(), 0u);

    char buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    std::uint32_t length = 99;
    EXPECT_EQ(CarvixAskPin(u"T", buffer, sizeof buffer, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(std::count(buffer, buffer + 8, '\0'), 8);  // a cancel wipes what the hook wrote

    CarvixSetPinPrompt(nullptr, nullptr);
    EXPECT_FALSE(carvix::com::AskHostPin(u"Token 1", cancelled));
    EXPECT_EQ(CarvixAskPin(u"T", nullptr, 8, &length), 0);
}

// A host that installed the prompt told the PIN state hears it, the older hook keeps working
// beside it (whichever was installed last answers), and a locked PIN is only told.
TEST(PinPromptTest, TheStatePromptIsToldTheStateAndReplacesTheOlderHook) {
    struct StateHost {
        std::vector<std::pair<std::int32_t, std::uint32_t>> told;
        static std::int32_t Ask(void* context, const char16_t*, std::int32_t tries,
                                std::uint32_t state, char* pin, std::uint32_t capacity,
                                std::uint32_t* length) {
            static_cast<StateHost*>(context)->told.emplace_back(tries, state);
            if (capacity < 4) {
                return 0;
            }
            std::copy_n("1357", 4, pin);
            *length = 4;
            return 1;
        }
    } stateHost;
    PinHost oldHost;
    CarvixSetPinPrompt(&PinHost::Ask, &oldHost);
    CarvixSetPinPromptWithState(&StateHost::Ask, &stateHost);
    Orvel::Pkcs11::SecretText pin;
    EXPECT_TRUE(carvix::com::AskHostPin(
        Orvel::Pkcs11::PinRequest{u"Token 1", 2, CARVIX_PIN_WAS_WRONG | CARVIX_PIN_COUNT_LOW},
        pin));
    EXPECT_EQ(std::string(pin.Data(), pin.Size()), "1357");
    EXPECT_TRUE(oldHost.asked.empty());

    Orvel::Pkcs11::SecretText locked;
    EXPECT_FALSE(carvix::com::AskHostPin(
        Orvel::Pkcs11::PinRequest{u"Token 1", 0, CARVIX_PIN_LOCKED}, locked));
    EXPECT_EQ(locked.Size(), 0u);
    const std::vector<std::pair<std::int32_t, std::uint32_t>> expected{
        {2, CARVIX_PIN_WAS_WRONG | CARVIX_PIN_COUNT_LOW}, {0, CARVIX_PIN_LOCKED}};
    EXPECT_EQ(stateHost.told, expected);

    // Installing the older hook again takes the place of the state prompt.
    CarvixSetPinPrompt(&PinHost::Ask, &oldHost);
    EXPECT_TRUE(carvix::com::AskHostPin(u"Token 2", pin));
    EXPECT_EQ(oldHost.asked, u"Token 2");
    EXPECT_EQ(stateHost.told.size(), 2u);
    CarvixSetPinPrompt(nullptr, nullptr);
    EXPECT_FALSE(carvix::com::AskHostPin(u"Token 2", pin));
}

}  // namespace
