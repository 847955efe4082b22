// Multi-strings as PC/SC hands them out, reader listing through the installed call table,
// and the scope of an installed table.
#include "carvix/support/multi_string.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_context.h"
#include "fake_pcsc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Views = std::vector<std::string_view>;
using Names = std::vector<std::u16string>;

template <std::size_t N>
std::string Multi(const char (&text)[N]) {
    return std::string(text, N - 1);
}

TEST(MultiString, SplitsAtEachNulAndStopsAtTheEmptyName) {
    EXPECT_EQ(Orvel::SplitMultiString(Multi("A\0Bc\0\0")), (Views{"A", "Bc"}));
    EXPECT_EQ(Orvel::SplitMultiString(Multi("A\0\0Ignored\0\0")), (Views{"A"}));
    EXPECT_TRUE(Orvel::SplitMultiString(Multi("\0")).empty());
    EXPECT_TRUE(Orvel::SplitMultiString({}).empty());
}

TEST(MultiString, TheBufferEndBoundsTheWalk) {
    // No final NULs: the last name runs to the end of the buffer and no further.
    const std::string whole = Multi("One\0Two\0");
    EXPECT_EQ(Orvel::SplitMultiString(std::string_view(whole).substr(0, 7)), (Views{"One", "Two"}));
    EXPECT_EQ(Orvel::SplitMultiString(std::string_view(whole).substr(0, 5)), (Views{"One", "T"}));
}

TEST(MultiString, NamesAreUtf8) {
    EXPECT_EQ(Orvel::SplitMultiStringUtf8(Multi("\xC4\x8C\0\xFF\0\0")),
              (Names{u"\u010C", u"\uFFFD"}));
}

class ReaderList : public ::testing::Test {
  protected:
    fake::Pcsc pcsc;
};

TEST_F(ReaderList, ListsInOrderAndFreesTheBufferOnce) {
    pcsc.readerList = Multi("B 00\0A 01\0\0");
    {
        Orvel::PCSC::PCSCContext context;
        EXPECT_EQ(context.ListReaders(), (Names{u"B 00", u"A 01"}));
        EXPECT_EQ(pcsc.buffersOut, 0);
    }
    EXPECT_EQ(pcsc.calls, (std::vector<std::string>{"SCardEstablishContext", "SCardListReaders",
                                                    "SCardFreeMemory", "SCardReleaseContext"}));
}

TEST_F(ReaderList, NoReaderOrNoServiceIsEmptyOtherFailuresThrow) {
    Orvel::PCSC::PCSCContext context;
    for (LONG rv : {SCARD_E_NO_READERS_AVAILABLE, SCARD_E_NO_SERVICE, SCARD_E_SERVICE_STOPPED}) {
        pcsc.Next("SCardListReaders", rv);
        EXPECT_TRUE(context.ListReaders().empty());
    }
    pcsc.Next("SCardListReaders", SCARD_E_INVALID_HANDLE);
    try {
        context.ListReaders();
        ADD_FAILURE() << "no exception";
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        EXPECT_EQ(e.OperationName(), "SCardListReaders");
        EXPECT_EQ(e.Code(), 0x80100003u);
    }
    pcsc.readerList = Multi("R\0\0");
    pcsc.Next("SCardFreeMemory", SCARD_E_INVALID_HANDLE);
    EXPECT_THROW(context.ListReaders(), Orvel::PCSC::PCSCWin32Exception);
    EXPECT_EQ(pcsc.buffersOut, 0);
}

TEST(PcscApiScope, AnInnerFakeHidesTheOuterOneUntilItsScopeEnds) {
    fake::Pcsc outer;
    {
        fake::Pcsc inner;
        Orvel::PCSC::PCSCContext context;
        EXPECT_EQ(inner.contextsOpen, 1);
        EXPECT_EQ(outer.contextsOpen, 0);
        context.Release();
    }
    Orvel::PCSC::PCSCContext context;
    EXPECT_EQ(outer.contextsOpen, 1);
}

}  // namespace
