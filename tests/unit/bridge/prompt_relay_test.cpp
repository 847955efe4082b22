// Questions from the module's hooks relayed to the page and answered from another thread.
#include "prompt_relay.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace carvix::bridge {
namespace {

using Json = nlohmann::json;

// The page: records prompts and answers each with what the test queued.
class FakePage {
  public:
    bool Send(const Json& prompt) {
        const std::lock_guard hold(lock_);
        prompts.push_back(prompt);
        changed_.notify_all();
        return sendWorks;
    }
    Json WaitForPrompt(std::size_t count) {
        std::unique_lock hold(lock_);
        changed_.wait(hold, [&] { return prompts.size() >= count; });
        return prompts[count - 1];
    }
    std::vector<Json> prompts;
    bool sendWorks = true;

  private:
    std::mutex lock_;
    std::condition_variable changed_;
};

class Relay : public ::testing::Test {
  protected:
    FakePage page;
    PromptRelay relay{[this](const Json& p) { return page.Send(p); }};

    // Answers prompt number `count` (1-based) from another thread with `fields`.
    std::thread AnswerLater(std::size_t count, Json fields) {
        return std::thread([this, count, fields]() mutable {
            const Json prompt = page.WaitForPrompt(count);
            fields["op"] = "answer";
            fields["prompt"] = prompt["prompt"];
            relay.Deliver(Json{{"prompt", prompt["prompt"].get<std::int64_t>() + 100}});  // stray
            relay.Deliver(std::move(fields));
        });
    }
};

TEST_F(Relay, ReaderChoiceWaitsForTheUsersPick) {
    const std::uint8_t atr[] = {0x3B, 0x8F};
    const CarvixReaderOffer offers[] = {{u"Reader A", atr, 2}, {u"Reader B", nullptr, 0}};
    std::thread answer = AnswerLater(1, Json{{"index", 1}});
    std::uint32_t chosen = 9;
    EXPECT_EQ(relay.ChooseReader(u"a VL card", offers, 2, &chosen), 1);
    answer.join();
    EXPECT_EQ(chosen, 1u);
    const Json& prompt = page.prompts.at(0);
    EXPECT_EQ(prompt["kind"], "reader");
    EXPECT_EQ(prompt["title"], "a VL card");
    EXPECT_EQ(prompt["readers"][0], (Json{{"name", "Reader A"}, {"atr", "3B8F"}}));
    EXPECT_EQ(prompt["readers"][1]["atr"], "");
}

TEST_F(Relay, CancelsAndOutOfRangeAnswersAreCancels) {
    const CarvixReaderOffer offers[] = {{u"Reader A", nullptr, 0}};
    std::uint32_t chosen = 0;
    for (const Json& answer : {Json{{"index", nullptr}}, Json{{"index", 1}}, Json{{"index", -1}},
                               Json{{"index", "0"}}, Json::object()}) {
        std::thread t = AnswerLater(page.prompts.size() + 1, answer);
        EXPECT_EQ(relay.ChooseReader(u"", offers, 1, &chosen), 0) << answer.dump();
        t.join();
    }
}

TEST_F(Relay, WaitingForACardIsAskedOnceAndCanBeCancelledLater) {
    std::thread t = AnswerLater(1, Json{{"index", 0}});
    EXPECT_EQ(relay.ChooseReader(u"insert", nullptr, 0, nullptr), 1);
    t.join();
    EXPECT_EQ(page.prompts.at(0)["readers"], Json::array());
    // The component asks again every second: no new prompt, the wait goes on...
    EXPECT_EQ(relay.ChooseReader(u"insert", nullptr, 0, nullptr), 1);
    EXPECT_EQ(page.prompts.size(), 1u);
    // ...until the user cancels the prompt answered before.
    relay.Deliver(
        Json{{"op", "answer"}, {"prompt", page.prompts[0]["prompt"]}, {"index", nullptr}});
    EXPECT_EQ(relay.ChooseReader(u"insert", nullptr, 0, nullptr), 0);
    // The next request asks again.
    relay.BeginRequest();
    std::thread again = AnswerLater(2, Json{{"index", nullptr}});
    EXPECT_EQ(relay.ChooseReader(u"insert", nullptr, 0, nullptr), 0);
    again.join();
}

TEST_F(Relay, CertificatesAreOfferedWithTheirDetails) {
    const CarvixCertificateOffer offers[] = {
        {u"CN=Signer", u"CN=CA", u"2030-01-01 00:00:00", u"AB12", nullptr, 0, 0},
        {u"CN=Other", u"CN=CA", u"2031-01-01 00:00:00", u"CD34", nullptr, 0, 1}};
    std::thread t = AnswerLater(1, Json{{"index", 0}});
    std::uint32_t chosen = 5;
    EXPECT_EQ(relay.ChooseCertificate(u"Sign", u"Pick one", offers, 2, &chosen), 1);
    t.join();
    EXPECT_EQ(chosen, 0u);
    const Json& prompt = page.prompts.at(0);
    EXPECT_EQ(prompt["kind"], "certificate");
    EXPECT_EQ(prompt["text"], "Pick one");
    EXPECT_EQ(prompt["certificates"][1], (Json{{"subject", "CN=Other"},
                                               {"issuer", "CN=CA"},
                                               {"notAfter", "2031-01-01 00:00:00"},
                                               {"thumbprint", "CD34"},
                                               {"selected", true}}));
}

TEST_F(Relay, APinGoesIntoTheBufferAndNowhereElse) {
    std::thread t = AnswerLater(1, Json{{"pin", "4711"}});
    char buffer[8] = {};
    std::uint32_t length = 0;
    EXPECT_EQ(relay.AskPin(u"Token 1", buffer, sizeof buffer, &length), 1);
    t.join();
    EXPECT_EQ(std::string(buffer, length), "4711");
    EXPECT_EQ(page.prompts.at(0), (Json{{"kind", "pin"}, {"token", "Token 1"}, {"prompt", 1}}));

    // Longer than the token takes: a cancel, never a shortened PIN.
    std::thread longer = AnswerLater(2, Json{{"pin", "123456789"}});
    EXPECT_EQ(relay.AskPin(u"Token 1", buffer, sizeof buffer, &length), 0);
    longer.join();
    EXPECT_EQ(length, 0u);
    std::thread cancel = AnswerLater(3, Json{{"pin", nullptr}});
    EXPECT_EQ(relay.AskPin(u"Token 1", buffer, sizeof buffer, &length), 0);
    cancel.join();
}

// The extension's window says that the PIN was wrong and how many tries are left; a locked PIN
// is not asked for at all.
TEST_F(Relay, APinPromptCarriesThePinState) {
    std::thread t = AnswerLater(1, Json{{"pin", "4711"}});
    char buffer[8] = {};
    std::uint32_t length = 0;
    EXPECT_EQ(relay.AskPin(u"Token 1", buffer, sizeof buffer, &length, 1,
                           CARVIX_PIN_WAS_WRONG | CARVIX_PIN_FINAL_TRY),
              1);
    t.join();
    EXPECT_EQ(page.prompts.at(0), (Json{{"kind", "pin"},
                                        {"token", "Token 1"},
                                        {"triesLeft", 1},
                                        {"state", Json::array({"was-wrong", "final-try"})},
                                        {"prompt", 1}}));
    EXPECT_EQ(relay.AskPin(u"Token 1", buffer, sizeof buffer, &length, 0, CARVIX_PIN_LOCKED), 0);
    EXPECT_EQ(page.prompts.size(), 1u);
}

TEST_F(Relay, NoticesDoNotWaitAndQuietHoldsThemBack) {
    relay.Notify(u"Warning", u"The card expires soon.", 0x30);
    ASSERT_EQ(page.prompts.size(), 1u);
    EXPECT_EQ(page.prompts[0]["kind"], "notice");
    EXPECT_EQ(page.prompts[0]["style"], 0x30);
    relay.SetQuiet(true);
    relay.Notify(u"Warning", u"held back", 0x30);
    relay.SetQuiet(false);
    EXPECT_EQ(page.prompts.size(), 1u);
}

TEST_F(Relay, AClosedPortCancelsWaitingAndLaterQuestions) {
    const CarvixReaderOffer offers[] = {{u"Reader A", nullptr, 0}};
    std::thread closer([this] {
        page.WaitForPrompt(1);
        relay.Close();
    });
    std::uint32_t chosen = 0;
    EXPECT_EQ(relay.ChooseReader(u"", offers, 1, &chosen), 0);
    closer.join();
    EXPECT_EQ(relay.ChooseReader(u"", nullptr, 0, nullptr), 0);
    char pin[4];
    std::uint32_t length = 0;
    EXPECT_EQ(relay.AskPin(u"T", pin, sizeof pin, &length), 0);
    EXPECT_EQ(page.prompts.size(), 1u);  // nothing more was sent
}

TEST_F(Relay, APromptThatCannotBeSentIsACancel) {
    page.sendWorks = false;
    const CarvixReaderOffer offers[] = {{u"Reader A", nullptr, 0}};
    std::uint32_t chosen = 0;
    EXPECT_EQ(relay.ChooseReader(u"", offers, 1, &chosen), 0);
}

TEST_F(Relay, ACancelledRequestEndsItsOpenPromptAndAsksNothingMoreUntilTheNext) {
    const CarvixReaderOffer offers[] = {{u"Reader A", nullptr, 0}};
    std::uint32_t chosen = 7;
    std::thread cancel([this] {
        page.WaitForPrompt(1);
        relay.CancelRequest();
    });
    EXPECT_EQ(relay.ChooseReader(u"", offers, 1, &chosen), 0) << "the open prompt is cancelled";
    cancel.join();
    EXPECT_EQ(chosen, 7u);
    // The module may ask again in the same request: nothing reaches the page.
    EXPECT_EQ(relay.ChooseReader(u"", offers, 1, &chosen), 0);
    char pin[8];
    std::uint32_t length = 9;
    EXPECT_EQ(relay.AskPin(u"Token", pin, sizeof pin, &length), 0);
    EXPECT_EQ(page.prompts.size(), 1u);
    // The next request asks as usual.
    relay.BeginRequest();
    std::thread answer = AnswerLater(2, Json{{"index", 0}});
    EXPECT_EQ(relay.ChooseReader(u"", offers, 1, &chosen), 1);
    answer.join();
    EXPECT_EQ(chosen, 0u);
}

TEST_F(Relay, ACancelEndsTheWaitForACard) {
    relay.BeginRequest();
    std::uint32_t chosen = 0;
    std::thread waitOn = AnswerLater(1, Json{{"index", 0}});
    EXPECT_EQ(relay.ChooseReader(u"", nullptr, 0, &chosen), 1) << "the user chose to wait";
    waitOn.join();
    EXPECT_EQ(relay.ChooseReader(u"", nullptr, 0, &chosen), 1) << "still waiting, not asked again";
    relay.CancelRequest();
    EXPECT_EQ(relay.ChooseReader(u"", nullptr, 0, &chosen), 0) << "the wait is over";
    EXPECT_EQ(page.prompts.size(), 1u);
}

}  // namespace
}  // namespace carvix::bridge
