// The top-level exchange rules (61xx, 6Cxx), T=1, and the choice of protocol instance.
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/smartcardio/transport_protocol.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"
#include "scripted_channel.h"

#include <gtest/gtest.h>

namespace {

using carvix::test::CardScript;
using carvix::test::FromHex;
using carvix::test::ToHex;
using Orvel::ByteArray;
using SmartCardIO::CardConnection;
using SmartCardIO::CommandAPDU;
using SmartCardIO::ResponseAPDU;

ResponseAPDU Exchange(CardScript& script, const CommandAPDU& command) {
    CardConnection connection(script.Channel());
    SmartCardIO::TransactionGuard guard(connection);
    return guard.Transmit(command);
}

TEST(T1Exchange, CommandGoesOutAsItIsWithItsBufferChoice) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    script.Apdu("00 A4 04 00 02 A0 01 00", "6F 01 90 00", false);
    const ResponseAPDU r = Exchange(script, CommandAPDU(0xA4, 0x04, 0x00, FromHex("A0 01"), false));
    EXPECT_EQ(ToHex(r.Data()), "6F 01");

    CardScript extended(Orvel::PCSC::kProtocolT1);
    extended.Apdu("00 D6 00 00 00 01 00 *", "90 00", true);
    EXPECT_EQ(Exchange(extended, CommandAPDU(0x00, 0xD6, 0, 0, ByteArray(256), true)).SW(), 0x9000);
}

TEST(TopLevel, MoreDataIsAskedForExactlyOnce) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    script.Apdu("00 CA 01 00 00", "61 20").Apdu("00 C0 00 00 20", "01 02 61 20");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xCA, 0x01, 0x00, 0, false));
    EXPECT_EQ(r.SW(), 0x6120);  // a second 61xx goes back to the caller
    EXPECT_EQ(ToHex(r.Data()), "01 02");
}

TEST(TopLevel, GetResponseTakesTheExtendedFlagOfTheCommand) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    script.Apdu("00 D6 00 00 00 01 00 *", "61 20", true)
        .Apdu("00 C0 00 00 00 00 20", "90 00", true);
    EXPECT_EQ(Exchange(script, CommandAPDU(0x00, 0xD6, 0, 0, ByteArray(256), true)).SW(), 0x9000);
}

TEST(TopLevel, WrongLengthResendsOnceWithTheCardsLength) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    script.Apdu("00 B0 00 00 80", "6C 10").Apdu("00 B0 00 00 10", "6C 08");
    EXPECT_EQ(Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 0x80, false)).SW(), 0x6C08);

    CardScript header(Orvel::PCSC::kProtocolT1);  // a case 1 command gains an Le
    header.Apdu("80 CA 9F 7F", "6C 2D").Apdu("80 CA 9F 7F 2D", "90 00");
    EXPECT_EQ(Exchange(header, CommandAPDU(0x80, 0xCA, 0x9F, 0x7F)).SW(), 0x9000);
}

TEST(TopLevel, OtherStatusWordsAreReturnedUntouched) {
    CardScript script(Orvel::PCSC::kProtocolT1);
    script.Apdu("00 B0 00 00 80", "69 82");
    EXPECT_EQ(Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 0x80, false)).SW(), 0x6982);
}

TEST(ProtocolChoice, ActiveProtocolPicksTheSharedInstance) {
    CardScript t0(Orvel::PCSC::kProtocolT0);
    CardConnection c0(t0.Channel(carvix::test::ChannelKind::Handle));
    CardScript t1(Orvel::PCSC::kProtocolT1);
    CardConnection c1(t1.Channel(carvix::test::ChannelKind::Handle));
    EXPECT_EQ(&SmartCardIO::TransportProtocol::GetInstance(c0),
              &SmartCardIO::TransportProtocol::T0());
    EXPECT_EQ(&SmartCardIO::TransportProtocol::GetInstance(c1),
              &SmartCardIO::TransportProtocol::T1());
    EXPECT_NE(&SmartCardIO::TransportProtocol::T0(), &SmartCardIO::TransportProtocol::T1());
}

TEST(ProtocolChoice, RawOrNoProtocolIsAMismatch) {
    for (std::uint32_t protocol : {Orvel::PCSC::kProtocolRaw, 0u, 3u}) {
        CardScript script(protocol);
        CardConnection connection(script.Channel(carvix::test::ChannelKind::Handle));
        SmartCardIO::TransactionGuard guard(connection);
        try {
            guard.Transmit(CommandAPDU(0x00, 0xB0, 0, 0, 1, false));
            ADD_FAILURE() << "protocol " << protocol;
        } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
            EXPECT_EQ(e.OperationName(), "TransportProtocol::GetInstance");
            EXPECT_EQ(e.Code(), 0x8010000Fu);
        }
        EXPECT_TRUE(script.Sent().empty());
    }
}

TEST(TransportFailures, ChannelFailureReachesTheCallerUnchanged) {
    CardScript script;
    script.ApduFails("00 B0 00 00 80", 0x80100069u);
    try {
        Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 0x80, false));
        ADD_FAILURE();
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        EXPECT_EQ(e.OperationName(), "SCardTransmit");
        EXPECT_EQ(e.Code(), 0x80100069u);
    }
}

TEST(TransportFailures, UnparsableReplyIsAFrameworkFailure) {
    CardScript script;
    script.Apdu("00 B0 00 00 80", "90");
    EXPECT_THROW(Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 0x80, false)),
                 Orvel::FrameworkError);
}

}  // namespace
