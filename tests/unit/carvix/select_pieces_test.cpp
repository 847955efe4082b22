// The client's reader pieces: the terminal reader chooser (through the runtime's hook), the
// explanations of failures a person can act on, and the events `carvix watch` prints.
#include "card_survey.h"
#include "failure_text.h"
#include "terminal_chooser.h"
#include "watch_command.h"

#include "carvix/automation/host_hooks.h"
#include "carvix/support/pcsc_service.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <sstream>

namespace {

using namespace carvix::cli;
using Orvel::PCSC::ReaderState;

const CarvixReaderOffer kReaders[] = {
    {u"Reader One", nullptr, 0},
    {u"Reader Two", nullptr, 0},
};

TEST(TerminalReaderChooser, PicksFromTheListWaitsWithOneNoticeAndNeedsATerminal) {
    std::istringstream in("2\n");
    std::ostringstream out;
    {
        TerminalChooser chooser(in, out, true);
        chooser.Install();
        std::uint32_t index = 9;
        EXPECT_EQ(CarvixChooseReader(u"", kReaders, 2, &index), 1);
        EXPECT_EQ(index, 1u);
        EXPECT_NE(out.str().find("  2. Reader Two"), std::string::npos) << out.str();
        // Waiting for a card: said once, however often the component asks.
        EXPECT_EQ(CarvixChooseReader(u"", nullptr, 0, nullptr), 1);
        EXPECT_EQ(CarvixChooseReader(u"", nullptr, 0, nullptr), 1);
        const std::string shown = out.str();
        const auto first = shown.find("Insert one");
        ASSERT_NE(first, std::string::npos) << shown;
        EXPECT_EQ(shown.find("Insert one", first + 1), std::string::npos);
        EXPECT_EQ(chooser.UnansweredReaders(), 0u);
    }
    EXPECT_EQ(CarvixChooseReader(u"", kReaders, 2, nullptr), 0) << "removed with the chooser";

    TerminalChooser noTerminal(in, out, false);
    noTerminal.Install();
    std::uint32_t index = 9;
    EXPECT_EQ(CarvixChooseReader(u"", kReaders, 2, &index), 0);
    EXPECT_EQ(noTerminal.UnansweredReaders(), 2u);
    EXPECT_EQ(CarvixChooseReader(u"", nullptr, 0, nullptr), 0) << "nobody to insert a card";
    EXPECT_EQ(noTerminal.UnansweredReaders(), SIZE_MAX);
}

TEST(FailureText, StatusWordsInsideHResultsGetTheirMeaningAndAHint) {
    EXPECT_EQ(ExplainFailure(static_cast<HRESULT>(0x80076A82u), Addressed::Zk),
              "6A82: the card has no such application or file; is this a ZK card?\n");
    EXPECT_EQ(ExplainFailure(static_cast<HRESULT>(0x80046A82u), Addressed::Vl),
              "6A82: the card has no such application or file; is this a VL card?\n");
    EXPECT_NE(ExplainFailure(static_cast<HRESULT>(0x80046982u)).find("authentication first"),
              std::string::npos);
    EXPECT_EQ(StatusWordMeaning(0x63C2), "63C2: verification failed, 2 tries left");
    EXPECT_EQ(StatusWordMeaning(0x6C10), "6C10: wrong expected length (16 bytes available)");
    EXPECT_EQ(StatusWordMeaning(0x9000), "");
    // Not a status word: other facilities, and 0x8007 codes outside 6xxx.
    EXPECT_EQ(ExplainFailure(static_cast<HRESULT>(0x80106A82u)), "");
    EXPECT_EQ(ExplainFailure(static_cast<HRESULT>(0x80070057u)), "");
}

TEST(FailureText, SetUpProblemsNameWhatToDo) {
    EXPECT_NE(ExplainFailure(static_cast<HRESULT>(0x800401F3u)).find("carvix register"),
              std::string::npos);
    EXPECT_NE(ExplainFailure(static_cast<HRESULT>(0x8010001Du)).find("pcscd"), std::string::npos);
    EXPECT_NE(ExplainFailure(static_cast<HRESULT>(0x8010002Eu)).find("no reader"),
              std::string::npos);
    EXPECT_EQ(ExplainFailure(static_cast<HRESULT>(0x80004005u)), "");
}

ReaderState Reader(const std::u16string& name, bool card, std::uint32_t events = 0) {
    const auto state = static_cast<std::uint32_t>(card ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY);
    return {name, state, events, {0x3B, 0x80}};
}

std::vector<std::string> Lines(const std::vector<ReaderState>& before,
                               const std::vector<ReaderState>& after) {
    std::vector<std::string> lines;
    for (const CardEvent& e : EventsBetween(before, after)) {
        lines.push_back(EventLine(e, false));
    }
    return lines;
}

TEST(WatchEvents, ReadersAndCardsComingAndGoing) {
    EXPECT_EQ(Lines({}, {Reader(u"A", true), Reader(u"B", false)}),
              (std::vector<std::string>{"reader added: A", "card inserted: A, ATR 3B80",
                                        "reader added: B"}));
    EXPECT_EQ(Lines({Reader(u"A", true, 1)}, {Reader(u"A", false, 2)}),
              std::vector<std::string>{"card removed: A"});
    // Taken out and put back between two looks: the resource manager's count tells.
    EXPECT_EQ(Lines({Reader(u"A", true, 1)}, {Reader(u"A", true, 3)}),
              (std::vector<std::string>{"card removed: A", "card inserted: A, ATR 3B80"}));
    EXPECT_EQ(Lines({Reader(u"A", true, 1)}, {Reader(u"A", true, 1)}), std::vector<std::string>{});
    EXPECT_EQ(Lines({Reader(u"A", true), Reader(u"B", false)}, {Reader(u"B", false)}),
              (std::vector<std::string>{"card removed: A", "reader removed: A"}));
}

TEST(WatchEvents, LinesInTextAndJson) {
    CardEvent e{CardEvent::Kind::CardInserted, "R", "3B80", true, false, {}, {}};
    EXPECT_EQ(EventLine(e, false), "card inserted: R, ATR 3B80, VL yes, ZK no");
    EXPECT_EQ(nlohmann::json::parse(EventLine(e, true)),
              nlohmann::json::parse(
                  R"({"event":"card-inserted","reader":"R","atr":"3B80","vl":true,"zk":false})"));
    CardEvent mute{CardEvent::Kind::CardInserted, "R", "", {}, {}, "the card does not answer", {}};
    EXPECT_EQ(nlohmann::json::parse(EventLine(mute, true))["error"], "the card does not answer");
    EXPECT_FALSE(nlohmann::json::parse(EventLine(mute, true)).contains("vl"));
    CardEvent gone{CardEvent::Kind::ReaderRemoved, "R", {}, {}, {}, {}, {}};
    EXPECT_EQ(EventLine(gone, true), R"({"event":"reader-removed","reader":"R"})");
}

TEST(WatchEvents, LinesCarryTheirTime) {
    CardEvent gone{CardEvent::Kind::CardRemoved, "R", {}, {}, {}, {}, {}};
    EXPECT_EQ(EventLine(gone, false, "2026-12-08T10:00:00.250Z"),
              "2026-12-08T10:00:00.250Z card removed: R");
    EXPECT_EQ(EventLine(gone, true, "2026-12-08T10:00:00.250Z"),
              R"({"time":"2026-12-08T10:00:00.250Z","event":"card-removed","reader":"R"})");
    const std::string now = EventTime();
    ASSERT_EQ(now.size(), 24u) << now;
    EXPECT_EQ(now[10], 'T');
    EXPECT_EQ(now[19], '.');
    EXPECT_EQ(now.back(), 'Z');
}

// A VL card, a ZK card, a foreign card, a card that cannot be asked and an empty reader.
const std::vector<ReaderSurvey> kSurvey = {
    {"VL Reader", true, "3B80", true, false, false, {}},
    {"ZK Reader", true, "3B81", false, true, false, {}},
    {"Bank Reader", true, "3B82", false, false, false, {}},
    {"Busy Reader", true, "3B83", {}, {}, {}, "cannot connect: 0x8010000B"},
    {"Empty Reader", false, {}, {}, {}, {}, {}},
    {"Contactless Reader", true, "3B8F", false, false, true, {}},
};

TEST(ReaderSurveys, EachReaderSaysWhatItsCardHolds) {
    EXPECT_EQ(SurveyText(kSurvey[0]), "VL Reader\n  card, ATR 3B80, applications: VL\n");
    EXPECT_EQ(SurveyText(kSurvey[2]), "Bank Reader\n  card, ATR 3B82, no VL or ZK application\n");
    EXPECT_EQ(SurveyText(kSurvey[5]),
              "Contactless Reader\n  card, ATR 3B8F, applications: contactless\n");
    EXPECT_EQ(SurveyText(kSurvey[3]),
              "Busy Reader\n  card, ATR 3B83, cannot connect: 0x8010000B\n");
    EXPECT_EQ(SurveyText(kSurvey[4]), "Empty Reader\n  no card\n");
    ReaderSurvey both = kSurvey[0];
    both.zk = true;
    EXPECT_EQ(ApplicationNames(both), (std::vector<std::string>{"VL", "ZK"}));
    EXPECT_TRUE(ApplicationNames(kSurvey[3]).empty()) << "unknown is not held";
    // A contactless card is told apart, but holds neither application a read takes.
    EXPECT_EQ(CardKinds(kSurvey[5]), std::vector<std::string>{"contactless"});
    EXPECT_TRUE(ApplicationNames(kSurvey[5]).empty());
}

TEST(ReaderSurveys, TheApplicationChoosesTheReaderEvenBesideTheOtherKind) {
    EXPECT_EQ(ReadersHolding(kSurvey, true), std::vector<std::string>{"ZK Reader"});
    EXPECT_EQ(ReadersHolding(kSurvey, false), std::vector<std::string>{"VL Reader"});
    std::vector<ReaderSurvey> twoVl = kSurvey;
    twoVl[2].vl = true;
    EXPECT_EQ(ReadersHolding(twoVl, false), (std::vector<std::string>{"VL Reader", "Bank Reader"}));
    EXPECT_TRUE(ReadersHolding({kSurvey[4]}, false).empty());
}

TEST(FailureText, ContactlessCodesAlsoInHex) {
    EXPECT_EQ(WithHexCodes("Failed to read data from a contactless card. Error code: 6"),
              "Failed to read data from a contactless card. Error code: 6 (0x00000006)");
    EXPECT_EQ(WithHexCodes("Error code: -2147483646, then Error code: 255."),
              "Error code: -2147483646 (0x80000002), then Error code: 255 (0x000000FF).");
    // Nothing to convert: no number, or one beyond 32 bits; other text unchanged.
    EXPECT_EQ(WithHexCodes("Error code: none"), "Error code: none");
    EXPECT_EQ(WithHexCodes("Error code: 99999999999"), "Error code: 99999999999");
    EXPECT_EQ(WithHexCodes("Error code: -"), "Error code: -");
    EXPECT_EQ(WithHexCodes("Read document has ID 1"), "Read document has ID 1");
}

TEST(FailureText, PcscFailuresNameTheCallTheCodeAndTheCauseOnce) {
    // The service's own explanation as message: not repeated by the hint.
    ::setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/pcscd.comm", 1);
    const std::string service = Orvel::PCSC::ServiceFailureText();
    const std::string text = PcscFailureText("SCardEstablishContext", 0x8010001Du, service);
    ::unsetenv("PCSCLITE_CSOCK_NAME");
    EXPECT_EQ(text, "carvix: SCardEstablishContext: 0x8010001D " + service + "\n");
    // Without a message (the watch losing pcscd): never an empty line.
    const std::string stopped = PcscFailureText("SCardGetStatusChange", 0x8010001Eu, {});
    EXPECT_EQ(stopped.rfind("carvix: SCardGetStatusChange: 0x8010001E\n", 0), 0u) << stopped;
    EXPECT_EQ(stopped.find("\n\n"), std::string::npos) << stopped;
}

}  // namespace
