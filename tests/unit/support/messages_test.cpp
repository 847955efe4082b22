// Message texts: system message lookup, trace sink output and the HRESULT mapping.
#include "carvix/support/exceptions.h"
#include "carvix/support/hresult.h"
#include "carvix/support/string_table.h"
#include "carvix/support/system_message.h"
#include "carvix/support/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::u16string kUnknown = u"An unrecognized Win32Exception was thrown.";

TEST(SystemMessage, PcscCodesTakeTheLibrarysText) {
    EXPECT_EQ(Orvel::SystemMessageText(0x80100069u), u"Card was removed.");
    EXPECT_EQ(Orvel::SystemMessageText(0x8010001Du), u"Service not available.");
    // Codes the library does not know but the component returns have texts of their own.
    EXPECT_NE(Orvel::SystemMessageText(0x8010002Cu), kUnknown);
    EXPECT_NE(Orvel::SystemMessageText(0x8010002Du), kUnknown);
    // A PC/SC-range code nobody knows is not "Unknown error: ...".
    EXPECT_EQ(Orvel::SystemMessageText(0x801000EEu), kUnknown);
}

TEST(SystemMessage, Win32CodesAreFoundBareAndInsideAnHResult) {
    EXPECT_EQ(Orvel::SystemMessageText(87), Orvel::SystemMessageText(0x80070057u));
    EXPECT_NE(Orvel::SystemMessageText(1223), kUnknown);
    EXPECT_EQ(Orvel::SystemMessageText(1223), Orvel::SystemMessageText(0x800704C7u));
    EXPECT_NE(Orvel::SystemMessageText(0x80004005u), kUnknown);
    EXPECT_NE(Orvel::SystemMessageText(0x80092004u), kUnknown);
    // An applet status word mapped into an HRESULT has no system text.
    EXPECT_EQ(Orvel::SystemMessageText(0x80076982u), kUnknown);
    EXPECT_EQ(Orvel::SystemMessageText(0x12345678u), kUnknown);
}

TEST(SystemMessage, NoTextEverCarriesALineBreak) {
    std::vector<std::uint32_t> codes;
    for (std::uint32_t c = 0; c < 2000; ++c) {
        codes.push_back(c);
        codes.push_back(0x80070000u | c);
    }
    for (std::uint32_t c = 0; c < 0x100; ++c) {
        codes.push_back(0x80100000u | c);
        codes.push_back(0x80090000u | c);
        codes.push_back(0x80092000u | c);
        codes.push_back(0x80040000u | c);
        codes.push_back(0x80020000u | c);
        codes.push_back(0x80004000u | c);
    }
    for (std::uint32_t code : codes) {
        const std::u16string text = Orvel::SystemMessageText(code);
        EXPECT_FALSE(text.empty()) << std::hex << code;
        EXPECT_EQ(text.find(u"\r\n"), std::u16string::npos) << std::hex << code;
    }
}

class TraceCapture : public ::testing::Test {
  protected:
    void SetUp() override {
        Orvel::SetTraceSink(
            [this](Orvel::TraceLevel, std::u16string_view text) { lines.emplace_back(text); });
    }
    void TearDown() override { Orvel::SetTraceSink({}); }
    std::vector<std::u16string> lines;
};

TEST_F(TraceCapture, ExceptionsReportTheirFinishedTexts) {
    Orvel::PCSC::PCSCWin32Exception pcsc("SCardConnect", 0x80100069u);
    JavaCard::AppletException applet(0x6A82);
    Orvel::ArgumentException arg(u"Bad.", u"year");
    EXPECT_EQ(lines, (std::vector<std::u16string>{u"Card was removed. (SCardConnect)",
                                                  u"Smart card applet return error code 6A82h.",
                                                  u"Bad.\r\nParameter Name: year"}));
    EXPECT_EQ(pcsc.Message(), u"Card was removed.");  // the name is not part of the message
}

TEST(TraceSink, NothingIsPassedWithoutASink) {
    Orvel::SetTraceSink({});
    EXPECT_FALSE(Orvel::TraceEnabled());
    EXPECT_NO_THROW(Orvel::Trace(Orvel::TraceLevel::Error, u"dropped"));
}

TEST(TraceSink, AThrowingSinkNeverBreaksAThrow) {
    Orvel::SetTraceSink([](Orvel::TraceLevel, std::u16string_view) { throw 42; });
    EXPECT_EQ(Orvel::Exception(u"kept").Message(), u"kept");
    Orvel::SetTraceSink({});
}

TEST(HResultMapping, PositiveCodesBecomeWin32HResultsOthersPass) {
    EXPECT_EQ(Orvel::HResultFromCode(0), 0);
    EXPECT_EQ(Orvel::HResultFromCode(0x6982), static_cast<std::int32_t>(0x80076982u));
    EXPECT_EQ(Orvel::HResultFromCode(0x12345), static_cast<std::int32_t>(0x80072345u));
    EXPECT_EQ(Orvel::HResultFromCode(INT32_MAX), static_cast<std::int32_t>(0x8007FFFFu));
    EXPECT_EQ(Orvel::HResultFromCode(Orvel::kE_FAIL), Orvel::kE_FAIL);
    EXPECT_EQ(Orvel::HResultFromCode(static_cast<std::int32_t>(0x80100069u)),
              static_cast<std::int32_t>(0x80100069u));
    EXPECT_EQ(Orvel::PcscCode(static_cast<long>(0x80100069ul)), 0x80100069u);
    EXPECT_EQ(Orvel::PcscCode(static_cast<long>(static_cast<std::int32_t>(0x80100069u))),
              0x80100069u);
}

TEST(StringTable, KnownIdsAndEmptyTextForUnknownOnes) {
    EXPECT_EQ(Orvel::LoadString(20491), u"Valid values are between %d and %d, inclusive.");
    EXPECT_EQ(Orvel::LoadString(21700), u"Certificate store is not opened.");
    EXPECT_TRUE(Orvel::LoadString(20489).empty());
    EXPECT_TRUE(Orvel::LoadString(0).empty());
}

TEST(ExceptionTexts, RangeAndPathMessages) {
    EXPECT_EQ(Orvel::ArgumentOutOfRangeException(u"year", u"Year too big.").Message(),
              u"Year too big.\r\nParameter Name: year");
    EXPECT_EQ(Orvel::ArgumentOutOfRangeException(u"year").ParamName(), u"year");
    EXPECT_FALSE(Orvel::IO::PathTooLongException().Message().empty());
    EXPECT_EQ(Orvel::Win32Exception("GetErrorMessage", 0x80076982u).Message(), kUnknown);
    const CardException copy = CardException(u"Bad block.", 0x1234);
    CardException assigned(u"x");
    assigned = copy;
    EXPECT_EQ(assigned.Message(), u"Bad block.");
    EXPECT_EQ(assigned.Code(), 0x1234);
}

}  // namespace
