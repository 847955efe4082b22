// SelectReader and SelectContactlessReader over readers in memory: which cards are offered,
// when the host's reader chooser is asked, waiting for a card, cancels and PC/SC failures.
#include "carvix/automation/client.h"
#include "carvix/automation/host_hooks.h"
#include "carvix/automation/oleauto.h"
#include "fake_readers.h"
#include "smartcard/smartcard_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using carvix::com::ISmartCardService;
using Card = fake::Readers::Card;

constexpr HRESULT kCancelled = static_cast<HRESULT>(0x800704C7u);

// The host's reader chooser: records what it was offered and answers as told.
struct Chooser {
    std::int32_t answer = 1;
    std::uint32_t index = 0;
    std::int32_t waitAnswer = 1;
    int waitQuestions = 0;
    std::vector<std::vector<std::u16string>> offered;
    std::u16string title;

    static std::int32_t Choose(void* context, const char16_t* title,
                               const CarvixReaderOffer* offers, std::uint32_t count,
                               std::uint32_t* chosen) {
        auto& self = *static_cast<Chooser*>(context);
        self.title = title;
        if (count == 0) {
            ++self.waitQuestions;
            return self.waitQuestions > 20 ? 0 : self.waitAnswer;  // never waits forever
        }
        std::vector<std::u16string> names;
        for (std::uint32_t i = 0; i < count; ++i) {
            names.emplace_back(offers[i].reader);
            EXPECT_EQ(offers[i].atrLength, 5u);
        }
        self.offered.push_back(names);
        *chosen = self.index;
        return self.answer;
    }
};

class SelectReader : public ::testing::Test {
  protected:
    void SetUp() override {
        void* p = nullptr;
        ASSERT_EQ(carvix::com::Create<carvix::com::SmartCardService>(nullptr,
                                                                     ISmartCardService::kIid, &p),
                  S_OK);
        service = static_cast<ISmartCardService*>(p);
        CarvixSetReaderChooser(&Chooser::Choose, &chooser);
    }
    void TearDown() override {
        CarvixSetReaderChooser(nullptr, nullptr);
        service->Release();
        // Every context, card and transaction the call took was given back.
        EXPECT_EQ(pcsc.contextsOpen, 0);
        EXPECT_EQ(pcsc.cardsConnected, 0);
        EXPECT_EQ(pcsc.transactionsOpen, 0);
        for (DWORD d : pcsc.disconnects) {
            EXPECT_EQ(d, static_cast<DWORD>(SCARD_LEAVE_CARD));
        }
    }

    // The selected name, or the failure as text.
    std::string Select(bool contactless = false) {
        BSTR name = nullptr;
        const HRESULT hr =
            contactless ? service->SelectContactlessReader(&name) : service->SelectReader(&name);
        if (hr != S_OK) {
            EXPECT_EQ(name, nullptr);
            char text[16];
            std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
            return text;
        }
        std::string out(name, name + SysStringLen(name));
        SysFreeString(name);
        return out;
    }

    fake::Readers pcsc;
    Chooser chooser;
    ISmartCardService* service = nullptr;
};

TEST_F(SelectReader, OffersReadersWhoseCardCarriesEitherApplicationInTheirOrder) {
    pcsc.Add("Empty");
    pcsc.Add("Neither", Card{});
    pcsc.Add("ZK only", Card{.zk = true});
    pcsc.Add("VL only", Card{.vl = true});
    chooser.index = 1;
    EXPECT_EQ(Select(), "VL only");
    ASSERT_EQ(chooser.offered.size(), 1u);
    EXPECT_EQ(chooser.offered[0], (std::vector<std::u16string>{u"ZK only", u"VL only"}));
    EXPECT_EQ(chooser.title, u"Choose the reader that holds the identity card");
    // Each present card is checked on its own connection: the VL applet, then the ZK applet.
    EXPECT_EQ(pcsc.connected, (std::vector<std::string>{"Neither", "ZK only", "VL only"}));
    ASSERT_EQ(pcsc.sent.size(), 6u);
    EXPECT_EQ(pcsc.sent[0].substr(0, 8), "00A40400");
    EXPECT_NE(pcsc.sent[0], pcsc.sent[1]);
    EXPECT_EQ(pcsc.sent[2], pcsc.sent[0]);
    EXPECT_EQ(pcsc.scope, static_cast<DWORD>(SCARD_SCOPE_SYSTEM));
}

TEST_F(SelectReader, TheOnlyAcceptableReaderIsTakenWithoutAsking) {
    pcsc.Add("Empty");
    pcsc.Add("Other card", Card{});
    pcsc.Add("Identity card", Card{.vl = true, .zk = true});
    EXPECT_EQ(Select(), "Identity card");
    EXPECT_TRUE(chooser.offered.empty());
    EXPECT_EQ(chooser.waitQuestions, 0);
}

TEST_F(SelectReader, ACardRemovedDuringItsCheckIsRejectedAndTheSearchGoesOn) {
    pcsc.Add("Pulled out", Card{.vl = true, .removedDuringCheck = true});
    pcsc.Add("Stays", Card{.zk = true});
    EXPECT_EQ(Select(), "Stays");
    EXPECT_TRUE(chooser.offered.empty());
}

TEST_F(SelectReader, ACancelLeavesTheNameUntouched) {
    pcsc.Add("A", Card{.vl = true});
    pcsc.Add("B", Card{.zk = true});
    chooser.answer = 0;
    BSTR name = reinterpret_cast<BSTR>(0x1);  // whatever the caller left there stays
    EXPECT_EQ(service->SelectReader(&name), kCancelled);
    EXPECT_EQ(name, reinterpret_cast<BSTR>(0x1));
    chooser.answer = 1;
    chooser.index = 2;  // out of range: a cancel too
    EXPECT_EQ(Select(), "0x800704C7");
    EXPECT_EQ(service->SelectReader(nullptr), E_INVALIDARG);
    EXPECT_EQ(service->SelectContactlessReader(nullptr), E_INVALIDARG);
}

TEST_F(SelectReader, WithoutAChooserSeveralReadersAreACancelNeverASilentPick) {
    CarvixSetReaderChooser(nullptr, nullptr);
    pcsc.Add("A", Card{.vl = true});
    pcsc.Add("B", Card{.zk = true});
    // Still the cancel code, but the caller learns that nobody was asked and what to do.
    EXPECT_EQ(Select(), "0x800704C7");
    std::u16string why = carvix::automation::TakeErrorDescription();
    EXPECT_NE(why.find(u"Several readers (2) hold a suitable card"), std::u16string::npos);
    EXPECT_NE(why.find(u"install a reader chooser"), std::u16string::npos);
    // Nobody to tell the user to insert a card: no waiting either.
    pcsc.readers.clear();
    EXPECT_EQ(Select(), "0x800704C7");
    EXPECT_EQ(pcsc.waits, 0);
    why = carvix::automation::TakeErrorDescription();
    EXPECT_NE(why.find(u"No reader holds a suitable card"), std::u16string::npos);
    // One acceptable reader needs no question.
    pcsc.Add("One", Card{.zk = true});
    EXPECT_EQ(Select(), "One");
}

TEST_F(SelectReader, WaitsForACardOrAReaderUntilOneQualifies) {
    pcsc.Add("Reader", Card{});                     // a card nobody wants
    pcsc.changes.push_back([](fake::Readers&) {});  // a quiet second: the host is asked again
    pcsc.changes.push_back([](fake::Readers& r) { r.Insert(0, Card{.vl = true}); });
    EXPECT_EQ(Select(), "Reader");
    EXPECT_EQ(chooser.waitQuestions, 2);
    EXPECT_TRUE(chooser.offered.empty());

    // No reader at all until one is plugged in with a card in it.
    pcsc.readers.clear();
    chooser.waitQuestions = 0;
    pcsc.changes.push_back([](fake::Readers& r) { r.Add("Plugged", Card{.zk = true}); });
    EXPECT_EQ(Select(), "Plugged");
    EXPECT_EQ(chooser.waitQuestions, 1);
}

TEST_F(SelectReader, TheUserCancelsTheWait) {
    pcsc.Add("Reader");
    chooser.waitAnswer = 0;
    EXPECT_EQ(Select(), "0x800704C7");
    EXPECT_EQ(chooser.waitQuestions, 1);
    EXPECT_EQ(pcsc.waits, 0);
}

TEST_F(SelectReader, PcscFailuresAreReportedAsTheirCodes) {
    pcsc.establishResult = SCARD_E_NO_SERVICE;
    EXPECT_EQ(Select(), "0x8010001D");
    pcsc.establishResult = SCARD_S_SUCCESS;
    pcsc.Add("Reader");
    pcsc.waitResult = SCARD_E_NO_SERVICE;  // the service stops while the user waits
    EXPECT_EQ(Select(), "0x8010001D");
}

// A contact card gives no answer to the contactless library, so nothing is offered.
TEST_F(SelectReader, AContactCardFailsTheContactlessCheck) {
    pcsc.Add("A", Card{.vl = true, .zk = true});
    chooser.waitAnswer = 0;
    EXPECT_EQ(Select(true), "0x800704C7");
    EXPECT_EQ(chooser.title, u"Choose the reader that holds the contactless card");
}

}  // namespace
