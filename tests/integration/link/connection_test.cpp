// Connections on the bench: an adopted handle across several operations, a reset by a second
// client, a removed card and a second Connect.
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/hresult.h"
#include "carvix/support/pcsc_comm.h"
#include "carvix/support/pcsc_context.h"
#include "carvix/support/trace.h"
#include "link_helpers.h"
#include "pcsc_client.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace carvix::linktest {
namespace {

using bench::BenchCard;
using bench::PcscCard;
using bench::SampleCard;
using Orvel::PCSC::PCSCWin32Exception;
using SmartCardIO::CardConnection;
using SmartCardIO::TransactionGuard;

// What the authentication object holds: a context and a connected handle of its own.
struct HandleOwner {
    explicit HandleOwner(const BenchCard& card) { comm.Connect(context, Reader(card), 2, 3); }
    Orvel::PCSC::PCSCContext context;
    Orvel::PCSC::PCSCComm comm;
};

TEST(AdoptedHandle, ServesSeveralGuardedOperationsAndStaysConnected) {
    BenchCard card(SampleCard("sample-t0.json"));
    HandleOwner owner(card);
    for (int round = 0; round < 2; ++round) {
        CardConnection connection(owner.comm.Handle(), 2, 3);
        EXPECT_TRUE(connection.ReaderName().empty());
        for (int op = 0; op < 3; ++op) {
            TransactionGuard guard(connection);
            OpenFile0D01(guard);
            EXPECT_EQ(guard.Transmit(ReadBinary(0, 4)).SW(), 0x9000);
        }
    }
    // Still the owner's: it can go on using the handle and disconnect it itself.
    EXPECT_TRUE(owner.comm.Connected());
    EXPECT_EQ(owner.comm.Status().atr.size(), 7u);
    owner.comm.Disconnect(Orvel::PCSC::kLeaveCard);
}

TEST(ResetByAnotherClient, IsAbsorbedOnceAndTheNextOperationSucceeds) {
    BenchCard card(SampleCard("sample-t1.json"));
    HandleOwner owner(card);
    CardConnection connection(owner.comm.Handle(), 2, 3);
    {
        TransactionGuard guard(connection);
        OpenFile0D01(guard);
    }
    PcscCard other(card.ReaderName());
    other.Reconnect(SCARD_RESET_CARD);
    std::vector<std::u16string> trace;
    Orvel::SetTraceSink([&](Orvel::TraceLevel, std::u16string_view t) { trace.emplace_back(t); });
    {
        TransactionGuard guard(connection);  // sees the reset, reconnects with a reset
        Orvel::SetTraceSink({});
        EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                                [](const auto& t) { return t.find(u"reset") != t.npos; }),
                  1);
        OpenFile0D01(guard);  // a freshly reset card: selected again
        EXPECT_EQ(guard.Transmit(ReadBinary(0, 4)).SW(), 0x9000);
    }
    TransactionGuard again(connection);  // nothing left to absorb
    OpenFile0D01(again);
}

TEST(ResetByAnotherClient, BetweenConnectAndTransactionOnAReaderChannel) {
    BenchCard card(SampleCard("sample-t0.json"));
    CardConnection connection(Reader(card), 2, 3);
    connection.Connect();
    PcscCard other(card.ReaderName());
    other.Reconnect(SCARD_RESET_CARD);
    connection.BeginTransaction();  // absorbs the reset
    connection.EndTransaction();
    connection.Disconnect(Orvel::PCSC::kLeaveCard);
    TransactionGuard guard(connection);
    OpenFile0D01(guard);
}

// The code a bare PC/SC client gets for `call`, 0 when it succeeds.
template <class F>
std::uint32_t RawCode(F&& call) {
    try {
        call();
    } catch (const bench::PcscError& e) {
        return e.code;
    }
    return 0;
}

TEST(RemovedCard, ReportsThePcscCodeUnchanged) {
    BenchCard card(SampleCard("sample-t1.json"));
    HandleOwner owner(card);
    CardConnection adopted(owner.comm.Handle(), 2, 3);
    CardConnection byName(Reader(card), 2, 3);
    PcscCard bare(card.ReaderName());
    card.Remove();

    const std::uint32_t rawBegin = RawCode([&] { bare.BeginTransaction(); });
    ASSERT_NE(rawBegin, 0u);
    try {
        TransactionGuard guard(adopted);
        ADD_FAILURE() << "a transaction on a removed card";
    } catch (const PCSCWin32Exception& e) {
        EXPECT_EQ(e.Code(), rawBegin) << std::hex << e.Code();
        EXPECT_EQ(e.Code(), 0x80100069u) << std::hex << e.Code();  // SCARD_W_REMOVED_CARD
        const CardException converted(e);
        EXPECT_EQ(Orvel::HResultFromCode(converted.Code()), static_cast<std::int32_t>(e.Code()));
        EXPECT_EQ(converted.Message(), u"PCSC exception: " + e.Message());
    }

    const std::uint32_t rawConnect = RawCode([&] { PcscCard direct(card.ReaderName()); });
    ASSERT_NE(rawConnect, 0u);
    try {
        TransactionGuard guard(byName);
        ADD_FAILURE() << "connected to an empty reader";
    } catch (const PCSCWin32Exception& e) {
        EXPECT_EQ(e.OperationName(), "SCardConnect");
        EXPECT_EQ(e.Code(), rawConnect) << std::hex << e.Code();
    }

    card.Insert();
    TransactionGuard guard(byName);  // a failed guard left nothing connected
    OpenFile0D01(guard);
}

TEST(ReaderChannel, ConnectingTwiceFailsAsAStateError) {
    BenchCard card(SampleCard("sample-t0.json"));
    CardConnection connection(Reader(card), 2, 3);
    connection.Connect();
    try {
        connection.Connect();
        ADD_FAILURE();
    } catch (const PCSCWin32Exception& e) {
        EXPECT_EQ(e.OperationName(), "PCSCComm::Connect");
        EXPECT_EQ(e.Code(), 0x80100001u);
    }
    EXPECT_THROW(TransactionGuard guard(connection), PCSCWin32Exception);
    connection.Disconnect(Orvel::PCSC::kLeaveCard);
}

TEST(ReaderChannel, UnknownReaderFailsInConnect) {
    CardConnection connection(u"no such reader 00 00", 2, 3);
    try {
        connection.Connect();
        ADD_FAILURE();
    } catch (const PCSCWin32Exception& e) {
        EXPECT_EQ(e.OperationName(), "SCardConnect");
        EXPECT_EQ(e.Code(), 0x80100009u) << std::hex << e.Code();  // SCARD_E_UNKNOWN_READER
    }
}

}  // namespace
}  // namespace carvix::linktest
