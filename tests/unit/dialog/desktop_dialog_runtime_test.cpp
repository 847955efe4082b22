// The runtime's questions without a host hook, answered by the real carvix-dialog on Qt's
// offscreen platform, its user played by CARVIX_DIALOG_TEST_KEYS: when the dialog is used
// and when not, each question's answer, and a reader list that changes while it is shown.
#include "carvix/automation/host_hooks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

class DesktopDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("CARVIX_DIALOG_PROGRAM", CARVIX_DIALOG_BUILT, 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("DISPLAY", ":carvix-test", 1);
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("CARVIX_DIALOG", "on", 1);
        const char* shots = std::getenv("CARVIX_DIALOG_SHOTS");
        ::setenv("CARVIX_DIALOG_TEST_SHOTS",
                 (std::string(shots != nullptr ? shots : "dialog-shots") + "/runtime-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name())
                     .c_str(),
                 1);
    }
    void TearDown() override {
        ::unsetenv("CARVIX_DIALOG_TEST_KEYS");
        CarvixSetDesktopDialogs(1);
    }
    static void Keys(const char* script) { ::setenv("CARVIX_DIALOG_TEST_KEYS", script, 1); }

    static std::string Pin(std::int32_t tries = -1, std::uint32_t state = 0) {
        char buffer[64];
        std::uint32_t length = 0;
        if (CarvixAskPinWithState(u"Signing token", tries, state, buffer, sizeof buffer, &length) ==
            0) {
            EXPECT_EQ(length, 0u);
            return "<cancelled>";
        }
        return std::string(buffer, length);
    }
};

constexpr CarvixCertificateOffer kOffers[] = {
    {u"CN=One", u"CN=CA", u"2027-01-01 00:00:00", u"AA", nullptr, 0, 0},
    {u"CN=Two", u"CN=CA", u"2028-01-01 00:00:00", u"BB", nullptr, 0, 1},
};
constexpr CarvixCertificateDetails kDetails[] = {
    {u"2026-01-01 00:00:00", CARVIX_KEY_FILE, u"/tmp/one.key"},
    {u"2026-01-01 00:00:00", CARVIX_KEY_TOKEN, u"Token"},
};

TEST_F(DesktopDialog, EachQuestionWithoutAHookIsAnsweredInTheDialog) {
    Keys("type:4711 enter");
    EXPECT_EQ(Pin(3), "4711");
    Keys("escape");
    EXPECT_EQ(Pin(1, CARVIX_PIN_FINAL_TRY), "<cancelled>");
    Keys("enter");
    EXPECT_EQ(Pin(0, CARVIX_PIN_LOCKED), "<cancelled>") << "a locked PIN is only shown";

    std::uint32_t chosen = 9;
    Keys("up enter");  // from the suggested second one up to the first
    EXPECT_EQ(CarvixChooseCertificateWithDetails(u"Sign", u"", kOffers, kDetails, 2, &chosen), 1);
    EXPECT_EQ(chosen, 0u);
    Keys("close");
    EXPECT_EQ(CarvixChooseCertificate(u"Sign", u"", kOffers, 2, &chosen), 0);

    const CarvixReaderOffer readers[] = {{u"A", nullptr, 0}, {u"B", nullptr, 0}};
    Keys("down enter");
    EXPECT_EQ(CarvixChooseReader(u"Readers", readers, 2, &chosen), 1);
    EXPECT_EQ(chosen, 1u);

    Keys("enter");
    CarvixNotify(u"Tessaro", u"The card was removed.", 0x30);  // returns once dismissed
}

TEST_F(DesktopDialog, ASelectionWaitsForACardAndFollowsTheReadersWhileShown) {
    Keys("wait:1500 end enter");
    CarvixReaderSelection* selection = CarvixBeginReaderSelection(u"Choose the reader");
    ASSERT_NE(selection, nullptr);
    std::uint32_t chosen = 9;
    EXPECT_EQ(CarvixOfferReaders(selection, nullptr, nullptr, 0, 200, &chosen),
              CARVIX_OFFER_PENDING)
        << "waiting for a card, shown";
    // Two cards inserted, then one more in a third reader, while the user looks.
    const CarvixReaderOffer readers[] = {
        {u"A", nullptr, 0}, {u"B", nullptr, 0}, {u"C", nullptr, 0}};
    const std::uint32_t cards[] = {CARVIX_CARD_VL, CARVIX_CARD_ZK, CARVIX_CARD_CONTACTLESS};
    EXPECT_EQ(CarvixOfferReaders(selection, readers, cards, 2, 200, &chosen), CARVIX_OFFER_PENDING);
    std::int32_t answer = CARVIX_OFFER_PENDING;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (answer == CARVIX_OFFER_PENDING && std::chrono::steady_clock::now() < deadline) {
        answer = CarvixOfferReaders(selection, readers, cards, 3, 200, &chosen);
    }
    EXPECT_EQ(answer, CARVIX_OFFER_PICKED);
    EXPECT_EQ(chosen, 2u) << "the reader added while shown, at the end of the list";
    CarvixEndReaderSelection(selection);

    Keys("escape");
    selection = CarvixBeginReaderSelection(u"Choose the reader");
    answer = CARVIX_OFFER_PENDING;
    while (answer == CARVIX_OFFER_PENDING) {
        answer = CarvixOfferReaders(selection, readers, cards, 2, 200, &chosen);
    }
    EXPECT_EQ(answer, CARVIX_OFFER_CANCELLED);
    CarvixEndReaderSelection(selection);
}

TEST_F(DesktopDialog, ThePinPadNoticeIsShownUntilEnded) {
    CarvixPinPadNotice* notice = CarvixBeginPinPadNotice(u"Reader token");
    ASSERT_NE(notice, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    CarvixEndPinPadNotice(notice);
    CarvixEndPinPadNotice(nullptr);
}

// The host's hook wins; the dialogs turned off, without a session or without a working
// program, everything is as without them: nobody asked, and notices on standard error.
TEST_F(DesktopDialog, IsUsedOnlyWithoutAHookInAGraphicalSessionAndWhenItWorks) {
    struct Host {
        static std::int32_t Pin(void*, const char16_t*, char* pin, std::uint32_t,
                                std::uint32_t* length) {
            pin[0] = '7';
            *length = 1;
            return 1;
        }
    };
    Keys("type:1 enter");
    CarvixSetPinPrompt(&Host::Pin, nullptr);
    EXPECT_EQ(Pin(), "7");
    EXPECT_EQ(CarvixBeginPinPadNotice(u"Token"), nullptr) << "the host shows its own";
    CarvixSetPinPrompt(nullptr, nullptr);

    const CarvixReaderOffer readers[] = {{u"A", nullptr, 0}, {u"B", nullptr, 0}};
    std::uint32_t chosen = 0;
    const auto quick = [&] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Pin(), "<cancelled>");
        EXPECT_EQ(CarvixChooseReader(u"", readers, 2, &chosen), 0);
        CarvixReaderSelection* selection = CarvixBeginReaderSelection(u"");
        EXPECT_EQ(CarvixOfferReaders(selection, nullptr, nullptr, 0, 200, &chosen),
                  CARVIX_OFFER_NOBODY)
            << "nobody was asked: no cancel to report";
        CarvixEndReaderSelection(selection);
        testing::internal::CaptureStderr();
        CarvixNotify(u"Tessaro", u"on standard error", 0x30);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Tessaro: on standard error\n");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    };
    CarvixSetDesktopDialogs(0);
    quick();
    CarvixSetDesktopDialogs(1);
    ::setenv("CARVIX_DIALOG", "off", 1);
    quick();
    ::setenv("CARVIX_DIALOG", "on", 1);
    ::unsetenv("DISPLAY");
    quick();
    ::setenv("DISPLAY", ":carvix-test", 1);
    ::setenv("CARVIX_DIALOG_PROGRAM", "/nonexistent/carvix-dialog", 1);
    quick();
    ::setenv("CARVIX_DIALOG_PROGRAM", "/bin/true", 1);  // starts, never greets
    quick();
}

}  // namespace
