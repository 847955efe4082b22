// Commands of every case through the T=0 and T=1 rules against the bench's virtual card,
// checked by their results and by the exact bytes the card received.
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "link_helpers.h"

#include <gtest/gtest.h>

namespace carvix::linktest {
namespace {

using bench::ApduExchange;
using bench::BenchCard;
using bench::SampleCard;
using SmartCardIO::CardConnection;
using SmartCardIO::TransactionGuard;
using Log = std::vector<ApduExchange>;

struct CardKind {
    const char* image;
    std::uint32_t protocol;
};

class EveryCase : public ::testing::TestWithParam<CardKind> {};

TEST_P(EveryCase, CommandsOfEveryCaseGetTheirAnswers) {
    BenchCard card(SampleCard(GetParam().image));
    CardConnection connection(Reader(card), 2, 3);
    TransactionGuard guard(connection);
    EXPECT_EQ(connection.ActiveProtocol(), GetParam().protocol);
    OpenFile0D01(guard);  // case 4 short, twice

    // Case 2 short: the header of block 0D01 (tag 0D01, length 0x0128, little-endian).
    auto header = guard.Transmit(ReadBinary(0, 4));
    EXPECT_EQ(header.SW(), 0x9000);
    EXPECT_EQ(Hex(header.Data()), "010D2801");

    // Case 2 short past the end: the card names the 4 bytes left and the command is resent.
    auto tail = guard.Transmit(ReadBinary(296, 8));
    EXPECT_EQ(tail.SW(), 0x9000);
    EXPECT_EQ(tail.Data().size(), 4u);

    // Case 1: logout of every role.
    EXPECT_EQ(guard.Transmit(CommandAPDU(0xB0, 0x22, 0x00, 0xFF)).SW(), 0x9000);

    // Case 3, short and extended-with-short-data: no role may write yet.
    const CommandAPDU update(0x00, 0xD6, 0x00, 0x00, ByteArray{0x01, 0x02}, false);
    EXPECT_EQ(guard.Transmit(update).SW(), 0x6982);
    const CommandAPDU updateExtended(0x00, 0xD6, 0x00, 0x00, ByteArray{0x01, 0x02}, true);
    EXPECT_EQ(guard.Transmit(updateExtended).SW(), 0x6982);
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, EveryCase,
                         ::testing::Values(CardKind{"sample-t0.json", 1},
                                           CardKind{"sample-t1.json", 2}),
                         [](const auto& info) { return info.param.protocol == 1 ? "T0" : "T1"; });

TEST(T0Exchange, CardSeesTheT0FormOfEachCase) {
    BenchCard card(SampleCard("sample-t0.json"));
    CardConnection connection(Reader(card), 2, 3);
    TransactionGuard guard(connection);
    card.ClearApduLog();
    guard.Transmit(SelectVl());
    guard.Transmit(CommandAPDU(0xB0, 0x22, 0x00, 0xFF));
    guard.Transmit(SelectFile(0x0D01));
    guard.Transmit(ReadBinary(296, 8));
    const Log log = card.ApduLog();
    std::vector<std::string> commands;
    for (const ApduExchange& e : log) {
        commands.push_back(e.command);
    }
    EXPECT_EQ(commands,
              (std::vector<std::string>{"00A404000DF3810000025345525158564C01",  // case 4 as case 3
                                        "00C0000011",  // GET RESPONSE for 61 11
                                        "B02200FF00",  // case 1 with P3 = 0
                                        "00A40000020D01", "00C000000A",
                                        "00B0012808",     // wrong length...
                                        "00B0012804"}));  // ...resent with the card's 04
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[0].response, "6111");
    EXPECT_EQ(log[1].response, kVlFci + "9000");
    EXPECT_EQ(log[5].response, "6C04");
    EXPECT_EQ(log[6].response.size(), 12u);
}

TEST(T0Exchange, ExtendedLeOnT0IsOneShortRead) {
    BenchCard card(SampleCard("sample-t0.json"));
    CardConnection connection(Reader(card), 2, 3);
    TransactionGuard guard(connection);
    OpenFile0D01(guard);
    card.ClearApduLog();
    const auto r = guard.Transmit(ReadBinary(0, 300, true));
    EXPECT_EQ(r.SW(), 0x9000);
    EXPECT_EQ(r.Data().size(), 256u);
    ASSERT_EQ(card.ApduLog().size(), 1u);
    EXPECT_EQ(card.ApduLog()[0].command, "00B0000000");
}

TEST(T1Exchange, ExtendedCommandsGoOutWhole) {
    BenchCard card(SampleCard("sample-t1.json"));
    CardConnection connection(Reader(card), 2, 3);
    TransactionGuard guard(connection);
    OpenFile0D01(guard);
    card.ClearApduLog();
    const auto r = guard.Transmit(ReadBinary(0, 300, true));
    EXPECT_EQ(r.SW(), 0x9000);
    EXPECT_EQ(r.Data().size(), 300u);
    ASSERT_EQ(card.ApduLog().size(), 1u);
    EXPECT_EQ(card.ApduLog()[0].command,
              "00B00000"
              "00012C");
}

TEST(T1Exchange, MoreDataIsFetchedOnceByTheTopLevel) {
    BenchCard card(SampleCard("sample-t1.json"), {"--t1-get-response"});
    CardConnection connection(Reader(card), 2, 3);
    TransactionGuard guard(connection);
    card.ClearApduLog();
    const auto fci = guard.Transmit(SelectVl());
    EXPECT_EQ(fci.SW(), 0x9000);
    EXPECT_EQ(Hex(fci.Data()), kVlFci);
    EXPECT_EQ(card.ApduLog(), (Log{{"00A404000DF3810000025345525158564C0100", "6111"},
                                   {"00C0000011", kVlFci + "9000"}}));
}

void ExpectTransmitFailure(const SmartCardIO::TransactionGuard& guard, const ByteArray& command) {
    try {
        const ByteArray reply = guard.TransmitRaw(command, false);
        ADD_FAILURE() << "got " << reply.size() << " bytes instead of a failure";
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        EXPECT_EQ(e.OperationName(), "SCardTransmit");
        EXPECT_EQ(e.Code() & 0xFFFF0000u, 0x80100000u) << std::hex << e.Code();
    }
}

TEST(T1Exchange, AnswerLongerThan512BytesNeedsTheExtendedBuffer) {
    BenchCard card(SampleCard("sample-t1.json"));
    CardConnection connection(Reader(card), 2, 3);
    TransactionGuard guard(connection);
    ASSERT_EQ(guard.Transmit(SelectVl()).SW(), 0x9000);
    ASSERT_EQ(guard.Transmit(SelectFile(0x0D05)).SW(), 0x9000);  // 2600 bytes

    const ByteArray read = ReadBinary(0, 1000, true).Bytes();
    ExpectTransmitFailure(guard, read);
    EXPECT_EQ(guard.TransmitRaw(read, true).size(), 1000u + 2u);

    // A short command whose answer grows past the buffer fails the same way.
    const ByteArray shortRead = ReadBinary(0, 255).Bytes();
    card.Control("fault long:256@1");
    ExpectTransmitFailure(guard, shortRead);
    card.Control("fault long:256@1");
    EXPECT_EQ(guard.TransmitRaw(shortRead, true).size(), 255u + 256u + 2u);
}

}  // namespace
}  // namespace carvix::linktest
