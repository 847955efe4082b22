#include "carvix/support/exceptions.h"
#include "carvix/support/hresult.h"
#include "carvix/support/last_error.h"
#include "carvix/support/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(Exceptions, MessagesAreBuiltFromTheStringTable) {
    EXPECT_EQ(Orvel::Exception().Message(), u"An unhandled exception was thrown.");
    EXPECT_EQ(Orvel::ArgumentException(u"Bad.", u"year").Message(),
              u"Bad.\r\nParameter Name: year");
    EXPECT_EQ(Orvel::ArgumentException(u"Bad.").Message(), u"Bad.");
    EXPECT_EQ(Orvel::ArgumentOutOfRangeException(u"month").Message(),
              u"Specified argument was out of the range of valid values.\r\nParameter Name: month");
}

TEST(Exceptions, CardExceptionWrapsLinkFailures) {
    CardException applet{JavaCard::AppletException(0x6982)};
    EXPECT_EQ(applet.Message(), u"Applet exception: An unhandled exception was thrown.");
    EXPECT_EQ(applet.Code(), 0x6982);
    EXPECT_EQ(Orvel::HResultFromCode(applet.Code()), static_cast<std::int32_t>(0x80076982u));

    CardException pcsc{Orvel::PCSC::PCSCWin32Exception("SCardConnect", 0x80100069u)};
    EXPECT_EQ(pcsc.Code(), static_cast<std::int32_t>(0x80100069u));
    EXPECT_EQ(pcsc.Message().rfind(u"PCSC exception: ", 0), 0u);
    EXPECT_EQ(Orvel::HResultFromCode(pcsc.Code()), pcsc.Code());
    EXPECT_EQ(CardException(u"x").Code(), Orvel::kE_FAIL);
}

TEST(Exceptions, ConstructionKeepsTheLastError) {
    Orvel::SetLastError(1234);
    Orvel::Exception e;
    EXPECT_EQ(Orvel::GetLastError(), 1234u);
    EXPECT_EQ(Orvel::Win32Exception("Op").Code(), 1234u);
}

TEST(Exceptions, SwallowedFailuresReachTheTraceAsWarnings) {
    Orvel::TraceSwallowed(u"No sink: ", Orvel::Exception(u"nothing happens"));
    const Orvel::Exception gone(u"gone");  // made before the sink: its own trace is not counted
    std::vector<std::pair<Orvel::TraceLevel, std::u16string>> lines;
    Orvel::SetTraceSink([&](Orvel::TraceLevel level, std::u16string_view text) {
        lines.emplace_back(level, std::u16string(text));
    });
    Orvel::TraceSwallowed(u"Ending the transaction failed: ", gone);
    Orvel::SetTraceSink({});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, Orvel::TraceLevel::Warning);
    EXPECT_EQ(lines[0].second, u"Ending the transaction failed: gone");
}

}  // namespace
