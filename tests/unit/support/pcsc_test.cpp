// The PC/SC wrappers against the fake client library: return codes, state checks, buffers
// and the reset rule of a transaction start.
#include "carvix/support/card_channel.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_comm.h"
#include "carvix/support/pcsc_context.h"
#include "carvix/support/trace.h"
#include "carvix/support/unicode.h"
#include "fake_pcsc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Orvel::PCSC::PCSCComm;
using Orvel::PCSC::PCSCContext;
using Orvel::PCSC::PCSCWin32Exception;
using Calls = std::vector<std::string>;

// pcsc-lite's LONG is 64-bit: its codes arrive as positive values...
constexpr LONG kRemovedPositive = static_cast<LONG>(0x80100069ul);
// ...or, from other builds, sign-extended.
constexpr LONG kRemovedNegative = static_cast<LONG>(static_cast<std::int32_t>(0x80100069u));
constexpr LONG kReset = static_cast<LONG>(0x80100068ul);

struct Failure {
    std::string operation;
    std::uint32_t code = 0;
};

template <class F>
Failure FailureOf(F&& f) {
    try {
        f();
    } catch (const PCSCWin32Exception& e) {
        return {e.OperationName(), e.Code()};
    }
    return {"(none)", 0};
}

void ExpectFailure(const Failure& f, const std::string& operation, std::uint32_t code) {
    EXPECT_EQ(f.operation, operation);
    EXPECT_EQ(f.code, code) << std::hex << f.code;
}

class Pcsc : public ::testing::Test {
  protected:
    fake::Pcsc card;  // installed for this test only
};

TEST_F(Pcsc, ReturnCodesAreCutTo32BitsWhateverTheirSignExtension) {
    for (LONG rv : {kRemovedPositive, kRemovedNegative}) {
        card.Next("SCardEstablishContext", rv);
        ExpectFailure(FailureOf([] { PCSCContext context; }), "SCardEstablishContext", 0x80100069u);
    }
    PCSCContext context;
    PCSCComm comm;
    card.Next("SCardConnect", static_cast<LONG>(0x8010001Dul));
    ExpectFailure(FailureOf([&] { comm.Connect(context, u"R", 2, 3); }), "SCardConnect",
                  0x8010001Du);
}

TEST_F(Pcsc, ContextIsReleasedOnceAndAReleasedContextIsAStateError) {
    {
        PCSCContext context;
        context.Release();
        EXPECT_FALSE(context.Established());
        ExpectFailure(FailureOf([&] { context.Release(); }), "PCSCContext::Release", 0x80100001u);
    }
    EXPECT_EQ(card.calls, (Calls{"SCardEstablishContext", "SCardReleaseContext"}));

    card.calls.clear();
    card.Next("SCardReleaseContext", kRemovedPositive);
    { PCSCContext context; }  // a failing release in the destructor is swallowed
    EXPECT_EQ(card.calls, (Calls{"SCardEstablishContext", "SCardReleaseContext"}));
}

TEST_F(Pcsc, ReaderNameIsUtf8AndAnEmptyNameIsNull) {
    PCSCContext context;
    PCSCComm comm;
    comm.Connect(context, u"\u010Cita\u010D 00 00", 2, 3);
    EXPECT_EQ(card.lastReader, std::optional<std::string>("\xC4\x8C"
                                                          "ita\xC4\x8D 00 00"));
    comm.Disconnect(0);
    comm.Connect(context, u"", 2, 3);
    EXPECT_FALSE(card.lastReader.has_value());
}

TEST_F(Pcsc, ConnectionStateSurvivesFailures) {
    PCSCContext context;
    PCSCComm comm;
    card.Next("SCardConnect", kRemovedPositive);
    EXPECT_THROW(comm.Connect(context, u"R", 2, 3), PCSCWin32Exception);
    EXPECT_FALSE(comm.Connected());
    ExpectFailure(FailureOf([&] { comm.Disconnect(0); }), "PCSCComm::Disconnect", 0x80100001u);

    comm.Connect(context, u"R", 2, 3);
    EXPECT_EQ(comm.ActiveProtocol(), 2u);
    ExpectFailure(FailureOf([&] { comm.Connect(context, u"R", 2, 3); }), "PCSCComm::Connect",
                  0x80100001u);

    card.Next("SCardDisconnect", kRemovedPositive);
    ExpectFailure(FailureOf([&] { comm.Disconnect(0); }), "SCardDisconnect", 0x80100069u);
    EXPECT_TRUE(comm.Connected());
    comm.Disconnect(0);
    EXPECT_FALSE(comm.Connected());
    EXPECT_EQ(comm.ActiveProtocol(), 0u);
}

TEST_F(Pcsc, CallsOnAClosedConnectionAreStateErrors) {
    PCSCComm comm;
    const std::vector<std::uint8_t> apdu{0x00, 0xB0, 0x00, 0x00, 0x04};
    ExpectFailure(FailureOf([&] { comm.Transmit(apdu, false); }), "PCSCComm::AssertConnected",
                  0x80100001u);
    ExpectFailure(FailureOf([&] { comm.BeginTransaction(2, 3); }), "PCSCComm::AssertConnected",
                  0x80100001u);
    ExpectFailure(FailureOf([&] { comm.EndTransaction(); }), "PCSCComm::AssertConnected",
                  0x80100001u);
    ExpectFailure(FailureOf([&] { comm.Status(); }), "PCSCComm::AssertConnected", 0x80100001u);
    ExpectFailure(FailureOf([&] { comm.Reconnect(2, 3, 1); }), "PCSCComm::AssertConnected",
                  0x80100001u);
    EXPECT_TRUE(card.calls.empty());
}

TEST_F(Pcsc, TransmitPicksPciAndZeroFilledBufferAndNeverTruncates) {
    PCSCContext context;
    PCSCComm comm;
    const std::vector<std::uint8_t> apdu{0x00, 0xB0, 0x00, 0x00, 0x00};
    struct Case {
        DWORD protocol;
        const SCARD_IO_REQUEST* pci;
    };
    for (Case c : {Case{SCARD_PROTOCOL_T0, SCARD_PCI_T0}, Case{SCARD_PROTOCOL_T1, SCARD_PCI_T1},
                   Case{SCARD_PROTOCOL_RAW, SCARD_PCI_RAW}}) {
        card.protocol = c.protocol;
        comm.Connect(context, u"R", 2, 3);
        EXPECT_EQ(comm.Transmit(apdu, false), (Orvel::ByteArray{0x90, 0x00}));
        EXPECT_EQ(card.lastPci, c.pci);
        EXPECT_TRUE(card.receivePciWasNull);
        EXPECT_EQ(card.lastReceiveRoom, 512u);
        EXPECT_TRUE(card.receiveBufferWasZero);
        comm.Transmit(apdu, true);
        EXPECT_EQ(card.lastReceiveRoom, 8192u);
        comm.Disconnect(0);
    }

    card.protocol = SCARD_PROTOCOL_T1;
    comm.Connect(context, u"R", 2, 3);
    card.response.assign(600, 0x5A);
    ExpectFailure(FailureOf([&] { comm.Transmit(apdu, false); }), "SCardTransmit", 0x80100008u);
    EXPECT_EQ(comm.Transmit(apdu, true).size(), 600u);
    comm.Disconnect(0);

    card.protocol = 0x10000;  // something this resource manager never names
    comm.Connect(context, u"R", 2, 3);
    ExpectFailure(FailureOf([&] { comm.Transmit(apdu, false); }), "GetHeader", 0x8010000Fu);
}

TEST_F(Pcsc, AnAnswerWithoutStatusWordIsAFailedTransmission) {
    PCSCContext context;
    PCSCComm comm;
    const std::vector<std::uint8_t> apdu{0x00, 0xB0, 0x00, 0x00, 0x00};
    card.protocol = SCARD_PROTOCOL_T1;
    comm.Connect(context, u"R", 2, 3);
    for (std::size_t size : {0u, 1u}) {
        card.response.assign(size, 0x90);
        ExpectFailure(FailureOf([&] { comm.Transmit(apdu, false); }), "SCardTransmit", 0x80100016u);
    }
    card.response = {0x90, 0x00};
    EXPECT_EQ(comm.Transmit(apdu, false), (Orvel::ByteArray{0x90, 0x00}));

    // A card pulled out during the exchange keeps the code, and the message says what happened.
    auto messageOf = [&] {
        try {
            comm.Transmit(apdu, false);
        } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
            EXPECT_EQ(e.Code(), 0x80100016u);
            return e.Message();
        }
        return std::u16string(u"no failure");
    };
    card.response.clear();
    const std::u16string broken = messageOf();
    EXPECT_EQ(broken.find(u"removed"), std::u16string::npos);
    card.Next("SCardStatus", static_cast<LONG>(SCARD_W_REMOVED_CARD));
    EXPECT_NE(messageOf().find(u"The card was removed"), std::u16string::npos);
    card.Next("SCardStatus", static_cast<LONG>(SCARD_E_NO_SMARTCARD));
    EXPECT_NE(messageOf().find(u"The card was removed"), std::u16string::npos);
    // The service's own report of the broken-off exchange, once it has seen the card go.
    card.response = {0x90, 0x00};
    card.Next("SCardTransmit", static_cast<LONG>(SCARD_E_NOT_TRANSACTED));
    card.Next("SCardStatus", static_cast<LONG>(SCARD_W_REMOVED_CARD));
    EXPECT_NE(messageOf().find(u"The card was removed"), std::u16string::npos);
}

TEST_F(Pcsc, StatusSplitsReaderNamesAndTakesTheLongestAtr) {
    PCSCContext context;
    PCSCComm comm;
    comm.Connect(context, u"R", 2, 3);
    card.atr.assign(33, 0x3B);  // the longest ATR there is
    const Orvel::PCSC::CardStatus status = comm.Status();
    EXPECT_EQ(status.readerNames, (std::vector<std::u16string>{u"Reader A", u"Reader B"}));
    EXPECT_EQ(status.atr.size(), 33u);
    EXPECT_EQ(status.protocol, 2u);
    EXPECT_GE(card.lastAtrRoom, 33u);
}

TEST_F(Pcsc, TraceShowsHeadersAndLengthsButNeverCommandData) {
    std::vector<std::u16string> lines;
    Orvel::SetTraceSink(
        [&](Orvel::TraceLevel, std::u16string_view text) { lines.emplace_back(text); });
    PCSCContext context;
    PCSCComm comm;
    comm.Connect(context, u"R", 2, 3);
    const std::vector<std::uint8_t> authenticate{0x00, 0x82, 0x00, 0x01, 0x04,
                                                 0xDE, 0xAD, 0xBE, 0xEF};
    comm.Transmit(authenticate, false);
    Orvel::SetTraceSink({});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind(u"Connected to \"R\" with T=", 0), 0u);
    // Header, lengths, the status word with its meaning and the time; never the data.
    const std::u16string prefix = u"APDU 00 82 00 01, 9 bytes -> 9000 ok, 2 bytes, ";
    EXPECT_EQ(lines[1].substr(0, prefix.size()), prefix) << Orvel::Utf16ToUtf8(lines[1]);
    EXPECT_EQ(lines[1].substr(lines[1].size() - 3), u" ms");
    for (const auto& line : lines) {
        EXPECT_EQ(line.find(u"DE"), std::u16string::npos);
    }
}

class ResetRule : public Pcsc {
  protected:
    void SetUp() override {
        comm.Connect(context, u"R", 2, 3);
        card.calls.clear();
    }
    PCSCContext context;
    PCSCComm comm;
};

TEST_F(ResetRule, ResetSeenByTheStartIsAbsorbedOnce) {
    card.Next("SCardBeginTransaction", kReset);
    comm.BeginTransaction(2, 3);
    EXPECT_EQ(card.calls,
              (Calls{"SCardBeginTransaction", "SCardReconnect", "SCardBeginTransaction"}));
    EXPECT_EQ(card.reconnectArgs, (std::vector<DWORD>{2, 3, SCARD_RESET_CARD}));
}

TEST_F(ResetRule, ResetSeenByTheStatusEndsTheTransactionBeforeReconnecting) {
    card.Next("SCardStatus", kReset);
    comm.BeginTransaction(2, 3);
    EXPECT_EQ(card.calls, (Calls{"SCardBeginTransaction", "SCardStatus", "SCardEndTransaction",
                                 "SCardReconnect", "SCardBeginTransaction"}));
}

TEST_F(ResetRule, SecondResetIsNotRetried) {
    card.Next("SCardBeginTransaction", kReset);
    card.Next("SCardBeginTransaction", kReset);
    ExpectFailure(FailureOf([&] { comm.BeginTransaction(2, 3); }), "SCardBeginTransaction",
                  0x80100068u);
    EXPECT_EQ(card.calls,
              (Calls{"SCardBeginTransaction", "SCardReconnect", "SCardBeginTransaction"}));
    EXPECT_TRUE(comm.Connected());
}

TEST_F(ResetRule, OtherFailuresPropagateUnchangedWithoutReconnecting) {
    card.Next("SCardBeginTransaction", kRemovedPositive);
    ExpectFailure(FailureOf([&] { comm.BeginTransaction(2, 3); }), "SCardBeginTransaction",
                  0x80100069u);
    EXPECT_EQ(card.calls, (Calls{"SCardBeginTransaction"}));

    card.calls.clear();
    card.Next("SCardStatus", kRemovedNegative);
    ExpectFailure(FailureOf([&] { comm.BeginTransaction(2, 3); }), "SCardStatus", 0x80100069u);
    // The transaction taken before the status read is not left behind.
    EXPECT_EQ(card.calls, (Calls{"SCardBeginTransaction", "SCardStatus", "SCardEndTransaction"}));

    card.Next("SCardBeginTransaction", kReset);
    card.Next("SCardReconnect", kRemovedPositive);
    ExpectFailure(FailureOf([&] { comm.BeginTransaction(2, 3); }), "SCardReconnect", 0x80100069u);
}

TEST_F(Pcsc, AdoptedHandleIsNeverDisconnected) {
    card.protocol = SCARD_PROTOCOL_T0;
    {
        Orvel::PCSC::HandleChannel channel(0x77, 2, 3);
        EXPECT_EQ(channel.GetProtocol(), 1u);
        for (int i = 0; i < 3; ++i) {
            channel.Connect();
            channel.BeginTransaction();
            channel.EndTransaction();
            channel.Disconnect(0);
        }
    }
    EXPECT_EQ(std::count(card.calls.begin(), card.calls.end(), "SCardDisconnect"), 0);
    EXPECT_EQ(std::count(card.calls.begin(), card.calls.end(), "SCardConnect"), 0);
    EXPECT_EQ(std::count(card.calls.begin(), card.calls.end(), "SCardBeginTransaction"), 3);
}

TEST_F(Pcsc, ReaderChannelClosesTheCardBeforeItsContext) {
    {
        Orvel::PCSC::ReaderChannel channel(u"R", 2, 3);
        EXPECT_EQ(channel.GetProtocol(), 0u);
        channel.Connect();
        EXPECT_EQ(channel.Control(0x42000C00, {}), (Orvel::ByteArray{0xAB, 0xCD}));
    }
    EXPECT_EQ(card.calls, (Calls{"SCardEstablishContext", "SCardConnect", "SCardControl",
                                 "SCardDisconnect", "SCardReleaseContext"}));
    EXPECT_EQ(card.dispositions, (std::vector<DWORD>{SCARD_LEAVE_CARD}));
}

}  // namespace
