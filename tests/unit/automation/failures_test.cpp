// The failure table behind ExplainFailure, the named codes, the system's texts through
// FormatMessageW, and the codes the token provider raises agreeing with the table.
#include "carvix/automation/failures.h"
#include "carvix/automation/oleauto.h"
#include "carvix/pki/key_container.h"
#include "carvix/support/system_message.h"

#include <gtest/gtest.h>

#include <string>

namespace {

namespace ca = carvix::automation;
namespace failures = carvix::automation::failures;

HRESULT Hr(std::uint32_t code) {
    return static_cast<HRESULT>(code);
}

TEST(ExplainFailure, NamedFailuresHaveTheirSituationMeaningAndNextStep) {
    const ca::FailureExplanation noCard = ca::ExplainFailure(failures::NoCard);
    EXPECT_EQ(noCard.name, "NoCard");
    EXPECT_EQ(noCard.situation, "NoCard");
    EXPECT_EQ(noCard.meaning, "there is no card in the reader");
    EXPECT_EQ(noCard.nextStep, "insert one");
    EXPECT_EQ(ca::ExplainFailure(Hr(0x80100069u)).name, "CardRemoved");
    EXPECT_EQ(ca::ExplainFailure(Hr(0x800401F3u)).situation, "NotRegistered");
    EXPECT_EQ(failures::WrongPin, Hr(0x8010006Bu));
    // The first and the last row of the sorted table are found too.
    EXPECT_EQ(ca::ExplainFailure(failures::Failed).name, "Failed");
    EXPECT_EQ(ca::ExplainFailure(failures::NoSuchCertificate).name, "NoSuchCertificate");
}

TEST(ExplainFailure, StatusWordsGetTheInterindustryMeaning) {
    const ca::FailureExplanation pin = ca::ExplainFailure(Hr(0x800763C2u));
    EXPECT_EQ(pin.situation, "WrongPin");
    EXPECT_EQ(pin.meaning, "63C2: verification failed, 2 tries left");
    const ca::FailureExplanation absent = ca::ExplainFailure(Hr(0x80046A82u));
    EXPECT_EQ(absent.name, "NoSuchApplicationOrFile");
    EXPECT_EQ(absent.meaning, "6A82: the card has no such application or file");
    EXPECT_EQ(absent.nextStep, "is this the right card?");
    EXPECT_EQ(ca::ExplainFailure(Hr(0x80076983u)).situation, "PinBlocked");
    const ca::FailureExplanation own = ca::ExplainFailure(Hr(0x80076F12u));
    EXPECT_EQ(own.name, "CardRefused");
    EXPECT_EQ(own.meaning, "6F12: a status word the card uses for its own errors");
    EXPECT_TRUE(own.nextStep.empty());
    // The views outlive the call and a second call (they point into the process's table).
    const std::string_view kept = ca::ExplainFailure(Hr(0x80076A82u)).meaning;
    ca::ExplainFailure(Hr(0x80076A86u));
    EXPECT_EQ(kept, "6A82: the card has no such application or file");
}

TEST(ExplainFailure, UnknownCodesAndOtherFacilitiesAreEmpty) {
    for (const std::uint32_t code :
         {0x12345678u, 0x80106A82u, 0x8007F000u, 0x00000000u, 0x80075000u, 0xFFFFFFFFu}) {
        const ca::FailureExplanation e = ca::ExplainFailure(Hr(code));
        EXPECT_TRUE(e.name.empty() && e.meaning.empty() && e.nextStep.empty()) << std::hex << code;
    }
}

TEST(ExplainFailure, TheTokenProvidersCodesAreTheTablesCodes) {
    EXPECT_EQ(Hr(carvix::pki::kBadKeyset), failures::BadKeyset);
    EXPECT_EQ(Hr(carvix::pki::kNoKey), failures::NoKey);
    EXPECT_EQ(Hr(carvix::pki::kBadFlags), failures::BadFlags);
    EXPECT_EQ(Hr(carvix::pki::kBadAlgId), failures::BadAlgorithm);
    EXPECT_EQ(Hr(carvix::pki::kBadData), failures::BadData);
    EXPECT_EQ(Hr(carvix::pki::kBadPublicKey), failures::BadPublicKey);
    EXPECT_EQ(Hr(carvix::pki::kNoSmartCard), failures::NoCard);
    EXPECT_EQ(Hr(carvix::pki::kNoSuchCertificate), failures::NoSuchCertificate);
    EXPECT_EQ(Hr(carvix::pki::kMoreData), failures::MoreData);
}

constexpr std::uint32_t kFromSystem = 0x1000;
constexpr std::uint32_t kIgnoreInserts = 0x200;
constexpr std::uint32_t kAllocate = 0x100;

TEST(FormatMessageW, GivesTheSystemsTextIntoABufferOrANewAllocation) {
    const std::u16string expected = Orvel::SystemMessageText(0x80100069u);
    ASSERT_FALSE(expected.empty());
    OLECHAR buffer[512];
    const std::uint32_t length = FormatMessageW(kFromSystem | kIgnoreInserts, nullptr, 0x80100069u,
                                                0x400, buffer, 512, nullptr);
    EXPECT_EQ(std::u16string(buffer, length), expected);
    EXPECT_EQ(buffer[length], 0);

    OLECHAR* allocated = nullptr;
    const std::uint32_t again =
        FormatMessageW(kFromSystem | kIgnoreInserts | kAllocate, nullptr, 0x8010000Cu, 0x400,
                       reinterpret_cast<OLECHAR*>(&allocated), 0, nullptr);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::u16string(allocated, again), Orvel::SystemMessageText(0x8010000Cu));
    CoTaskMemFree(allocated);
}

TEST(FormatMessageW, RefusesWhatItCannotDoWithoutWritingPastTheBuffer) {
    OLECHAR small[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(FormatMessageW(kFromSystem, nullptr, 0x80100069u, 0, small, 4, nullptr), 0u);
    EXPECT_EQ(small[3], u'x') << "nothing written into a buffer that is too small";
    OLECHAR buffer[64];
    EXPECT_EQ(FormatMessageW(0, nullptr, 0x80100069u, 0, buffer, 64, nullptr), 0u)
        << "only the system's table is a source";
    EXPECT_EQ(FormatMessageW(kFromSystem | 0x800, nullptr, 5, 0, buffer, 64, nullptr), 0u)
        << "a message from a module or a string is not supported";
    EXPECT_EQ(FormatMessageW(kFromSystem, nullptr, 5, 0, nullptr, 64, nullptr), 0u);
}

}  // namespace
