// The bracket of a card operation: connect, begin, exchange, end, disconnect.
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/support/card_hold.h"
#include "carvix/support/exceptions.h"
#include "scripted_channel.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using carvix::test::CardScript;
using carvix::test::ChannelKind;
using carvix::test::ChannelOp;
using SmartCardIO::CardConnection;
using SmartCardIO::CommandAPDU;
using SmartCardIO::TransactionGuard;
using Events = std::vector<std::string>;

const CommandAPDU kRead(0x00, 0xB0, 0x00, 0x00, 0x04, false);

TEST(TransactionGuard, BracketsEveryOperationOnAReaderChannel) {
    CardScript script;
    script.Apdu("00 B0 00 00 04", "01 02 03 04 90 00").Apdu("00 B0 00 00 04", "90 00");
    CardConnection connection(script.Channel());
    for (int i = 0; i < 2; ++i) {
        TransactionGuard guard(connection);
        guard.Transmit(kRead);
    }
    EXPECT_EQ(script.Events(),
              (Events{"connect", "begin", "transmit 00 B0 00 00 04", "end", "disconnect 0",
                      "connect", "begin", "transmit 00 B0 00 00 04", "end", "disconnect 0"}));
    EXPECT_FALSE(script.InTransaction());
}

// While a guard lives, the thread holds the card: work that may wait on another program
// (loading a PKCS#11 module, asking the user) refuses to start instead of deadlocking.
TEST(TransactionGuard, TheThreadHoldsTheCardForTheGuardsLifetime) {
    CardScript script;
    script.Apdu("00 B0 00 00 04", "90 00");
    CardConnection connection(script.Channel());
    EXPECT_FALSE(Orvel::CardHold::Active());
    {
        TransactionGuard guard(connection);
        {
            TransactionGuard nested(connection);
            EXPECT_TRUE(Orvel::CardHold::Active());
        }
        EXPECT_TRUE(Orvel::CardHold::Active());
        EXPECT_THROW(Orvel::RequireNoCardHeld("Loading a module"), Orvel::CardHeldError);
        guard.Transmit(kRead);
    }
    EXPECT_FALSE(Orvel::CardHold::Active());
    EXPECT_NO_THROW(Orvel::RequireNoCardHeld("Loading a module"));
}

TEST(TransactionGuard, AdoptedHandleServesSeveralOperationsWithoutDisconnecting) {
    CardScript script;
    script.Apdu("00 B0 00 00 04", "90 00").Apdu("00 B0 00 00 04", "90 00");
    CardConnection connection(script.Channel(ChannelKind::Handle));
    for (int i = 0; i < 2; ++i) {
        TransactionGuard guard(connection);
        EXPECT_EQ(guard.Transmit(kRead).SW(), 0x9000);
    }
    EXPECT_EQ(script.Events(), (Events{"begin", "transmit 00 B0 00 00 04", "end", "begin",
                                       "transmit 00 B0 00 00 04", "end"}));
}

TEST(TransactionGuard, FailedStartLeavesNoConnectionBehind) {
    CardScript script;
    script.Fail(ChannelOp::BeginTransaction, 0x80100069u).Apdu("00 B0 00 00 04", "90 00");
    CardConnection connection(script.Channel());
    try {
        TransactionGuard guard(connection);
        ADD_FAILURE();
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        EXPECT_EQ(e.OperationName(), "SCardBeginTransaction");
        EXPECT_EQ(e.Code(), 0x80100069u);
    }
    // The next operation on the same connection connects afresh instead of failing with
    // "PCSCComm::Connect".
    TransactionGuard guard(connection);
    EXPECT_EQ(guard.Transmit(kRead).SW(), 0x9000);
}

TEST(TransactionGuard, FailedConnectPropagatesAndUndoesNothing) {
    CardScript script;
    script.Fail(ChannelOp::Connect, 0x80100069u);
    CardConnection connection(script.Channel());
    EXPECT_THROW(TransactionGuard guard(connection), Orvel::PCSC::PCSCWin32Exception);
    EXPECT_EQ(script.Events(), (Events{"fail SCardConnect 80100069"}));
}

TEST(TransactionGuard, EndFailureStillDisconnectsAndNeverThrows) {
    CardScript script;
    script.Fail(ChannelOp::EndTransaction, 0x80100069u);
    CardConnection connection(script.Channel());
    { TransactionGuard guard(connection); }
    EXPECT_EQ(script.Events(),
              (Events{"connect", "begin", "fail SCardEndTransaction 80100069", "disconnect 0"}));
}

TEST(TransactionGuard, NestedGuardsHoldTheCardUntilTheOutermostEnds) {
    CardScript script;
    script.Apdu("00 B0 00 00 04", "90 00").Apdu("00 B0 00 00 04", "90 00");
    CardConnection connection(script.Channel());
    {
        TransactionGuard outer(connection);
        {
            TransactionGuard inner(connection);  // no second connect on the reader channel
            EXPECT_EQ(connection.TransactionDepth(), 2);
            EXPECT_EQ(inner.Transmit(kRead).SW(), 0x9000);
        }
        EXPECT_TRUE(script.InTransaction());
        EXPECT_EQ(outer.Transmit(kRead).SW(), 0x9000);
    }
    EXPECT_EQ(connection.TransactionDepth(), 0);
    EXPECT_FALSE(script.InTransaction());
    // The inner guard only counts: one begin and one end reach the resource manager.
    EXPECT_EQ(script.Events(), (Events{"connect", "begin", "transmit 00 B0 00 00 04",
                                       "transmit 00 B0 00 00 04", "end", "disconnect 0"}));
}

TEST(TransactionGuard, AFailureInsideAnInnerGuardLeavesTheOuterTransactionHeld) {
    CardScript script;
    CardConnection connection(script.Channel(ChannelKind::Handle));
    TransactionGuard outer(connection);
    try {
        TransactionGuard inner(connection);
        EXPECT_EQ(connection.TransactionDepth(), 2);
        throw std::runtime_error("operation failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(connection.TransactionDepth(), 1);
    EXPECT_TRUE(script.InTransaction());
    EXPECT_EQ(script.Events(), (Events{"begin"}));
}

TEST(CardConnection, ConnectingTwiceIsAStateError) {
    CardScript script;
    CardConnection connection(script.Channel());
    connection.Connect();
    try {
        connection.Connect();
        ADD_FAILURE();
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        EXPECT_EQ(e.OperationName(), "PCSCComm::Connect");
        EXPECT_EQ(e.Code(), 0x80100001u);
    }
}

}  // namespace
