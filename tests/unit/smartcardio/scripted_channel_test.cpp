// The scripted card must catch the faults it is there to catch.
#include "scripted_channel.h"
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

using carvix::test::CardScript;
using carvix::test::ScriptSurprise;
using SmartCardIO::CardConnection;
using SmartCardIO::CommandAPDU;
using SmartCardIO::TransactionGuard;

const CommandAPDU kRead(0x00, 0xB0, 0x00, 0x00, 0x04, false);

TEST(ScriptedCard, WildcardsMatchAnyByte) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    script.Apdu("00 B0 ?? ?? 04", "90 00").Apdu("00 D6 00 00 *", "90 00");
    CardConnection connection(script.Channel());
    TransactionGuard guard(connection);
    guard.Transmit(CommandAPDU(0x00, 0xB0, 0x12, 0x34, 4, false));
    guard.Transmit(CommandAPDU(0x00, 0xD6, 0, 0, Orvel::ByteArray(9), false));
}

TEST(ScriptedCard, WrongCommandFailsTheTest) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    script.Apdu("00 B0 00 00 08", "90 00");
    CardConnection connection(script.Channel());
    TransactionGuard guard(connection);
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(guard.Transmit(kRead), ScriptSurprise),
                            "expects 00 B0 00 00 08, got 00 B0 00 00 04");
    EXPECT_NONFATAL_FAILURE(script.ExpectDone(), "1 step(s) not used");
}

// Sending outside a transaction cannot be written any more: only a guard transmits.
TEST(ScriptedCard, TransmissionAfterTheEndFailsTheTest) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    CardConnection connection(script.Channel(carvix::test::ChannelKind::Handle));
    TransactionGuard guard(connection);
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(guard.Transmit(kRead), ScriptSurprise),
                            "after the end of the script");
}

TEST(ScriptedCard, UnusedStepsFailTheTestAtTeardown) {
    EXPECT_NONFATAL_FAILURE(
        {
            CardScript script;
            script.Apdu("00 B0 00 00 04", "90 00");
        },
        "not used, next: transmit 00 B0 00 00 04");
}

TEST(ScriptedCard, ExtendedFlagIsChecked) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    script.Apdu("00 B0 00 00 04", "90 00", true);
    CardConnection connection(script.Channel());
    TransactionGuard guard(connection);
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(guard.Transmit(kRead), ScriptSurprise),
                            "expects extended=true");
    EXPECT_NONFATAL_FAILURE(script.ExpectDone(), "not used");
}

}  // namespace
