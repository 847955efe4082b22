// T=0 rules per APDU case, over a scripted card.
#include "carvix/smartcardio/card_connection.h"
#include "carvix/smartcardio/transaction_guard.h"
#include "carvix/support/exceptions.h"
#include "scripted_channel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using carvix::test::CardScript;
using carvix::test::FromHex;
using carvix::test::ToHex;
using Orvel::ByteArray;
using SmartCardIO::CardConnection;
using SmartCardIO::CommandAPDU;
using SmartCardIO::ResponseAPDU;

std::string Bytes(std::size_t n, std::uint8_t value = 0xA5) {
    return ToHex(ByteArray(n, value));
}

ResponseAPDU Exchange(CardScript& script, const CommandAPDU& command) {
    CardConnection connection(script.Channel());
    SmartCardIO::TransactionGuard guard(connection);
    return guard.Transmit(command);
}

TEST(T0Case1, HeaderGoesOutWithP3Zero) {
    CardScript script;
    script.Apdu("80 E6 00 00 00", "90 00", false);
    EXPECT_EQ(Exchange(script, CommandAPDU(0x80, 0xE6, 0, 0)).SW(), 0x9000);
}

TEST(T0Case2, WrongLengthResendsWithTheCardsLengthAndTrims) {
    CardScript script;
    // The card names 8 bytes but answers 10: only the first 8 are kept.
    script.Apdu("00 B0 00 00 00", "6C 08")
        .Apdu("00 B0 00 00 08", "01 02 03 04 05 06 07 08 09 0A 90 00");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 0, false));
    EXPECT_EQ(ToHex(r.Data()), "01 02 03 04 05 06 07 08");
    EXPECT_EQ(r.SW(), 0x9000);
}

TEST(T0Case2, WrongLengthOfZeroMeans256AndKeepsTheData) {
    CardScript script;
    script.Apdu("00 B0 00 00 10", "6C 00").Apdu("00 B0 00 00 00", Bytes(256) + " 90 00");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 0x10, false));
    EXPECT_EQ(r.Data().size(), 256u);
}

TEST(T0Case2, MoreDataGoesToTheTopLevelGetResponseOnce) {
    CardScript script;
    script.Apdu("00 CA 01 00 00", "61 05").Apdu("00 C0 00 00 05", "01 02 03 04 05 61 02");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xCA, 0x01, 0x00, 0, false));
    EXPECT_EQ(r.SW(), 0x6102);  // a second 61xx is the caller's
    EXPECT_EQ(r.Data().size(), 5u);
}

TEST(T0Case2Extended, UpTo256IsTheShortRule) {
    CardScript script;
    script.Apdu("00 B0 00 00 00", "6C 20").Apdu("00 B0 00 00 20", Bytes(0x20) + " 90 00");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 256, true));
    EXPECT_EQ(r.Data().size(), 0x20u);
}

TEST(T0Case2Extended, LongAnswerIsCollectedFromGetResponsePieces) {
    CardScript script;
    script.Apdu("00 B0 00 00 00", "61 00")
        .Apdu("00 C0 00 00 00", Bytes(256, 1) + " 61 00")
        .Apdu("00 C0 00 00 00", Bytes(256, 2) + " 61 00")
        .Apdu("00 C0 00 00 00", Bytes(256, 3) + " 90 00");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 768, true));
    ASSERT_EQ(r.Data().size(), 768u);
    EXPECT_EQ(r.Data()[0], 1);
    EXPECT_EQ(r.Data()[767], 3);
    EXPECT_EQ(r.SW(), 0x9000);
}

TEST(T0Case2Extended, LastPieceAsksOnlyForWhatRemains) {
    CardScript script;
    script.Apdu("00 B0 00 00 00", Bytes(256) + " 61 00")
        .Apdu("00 C0 00 00 2C", Bytes(0x2C) + " 90 00");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 300, true));
    EXPECT_EQ(r.Data().size(), 300u);
    EXPECT_EQ(r.SW(), 0x9000);
}

TEST(T0Case2Extended, CollectionEndsWhenNothingRemainsAndLeavesMoreDataToTheCaller) {
    // Nothing remains after the second piece, so the collection stops with the card's 61 10;
    // the one GET RESPONSE that follows is the top level's, and its answer is returned.
    CardScript script;
    script.Apdu("00 B0 00 00 00", Bytes(256) + " 61 00")
        .Apdu("00 C0 00 00 2C", Bytes(0x2C) + " 61 10")
        .Apdu("00 C0 00 00 10", "01 02 61 10");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 300, true));
    EXPECT_EQ(ToHex(r.Data()), "01 02");
    EXPECT_EQ(r.SW(), 0x6110);
}

TEST(T0Case2Extended, AnErrorDuringCollectionDropsThePieces) {
    CardScript script;
    script.Apdu("00 B0 00 00 00", "61 00").Apdu("00 C0 00 00 00", Bytes(4) + " 6F 00");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 600, true));
    EXPECT_EQ(r.SW(), 0x6F00);
    EXPECT_EQ(r.Data().size(), 4u);
}

TEST(T0Case2Extended, CardSendingMoreThanAskedEndsTheCollection) {
    // 300 asked, 400 given in one piece: a wrapping count would keep collecting; instead the
    // collection stops and only the top level's single GET RESPONSE follows.
    CardScript script;
    script.Apdu("00 B0 00 00 00", "61 00")
        .Apdu("00 C0 00 00 00", Bytes(400) + " 61 10")
        .Apdu("00 C0 00 00 10", "01 02 61 10");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 300, true));
    EXPECT_EQ(ToHex(r.Data()), "01 02");
    EXPECT_EQ(r.SW(), 0x6110);
    EXPECT_EQ(script.Sent().size(), 3u);
}

TEST(T0Case2Extended, WrongLengthOnTheShortProbeResendsAndTrims) {
    CardScript script;
    script.Apdu("00 B0 00 00 00", "6C 04").Apdu("00 B0 00 00 04", "01 02 03 04 05 90 00");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0x00, 0xB0, 0, 0, 1000, true));
    EXPECT_EQ(ToHex(r.Data()), "01 02 03 04");
}

// A card that keeps answering "more data" without ever sending any.
class StallingChannel final : public Orvel::PCSC::CardChannel {
  public:
    void Connect() override {}
    void Disconnect(std::uint32_t) override {}
    void BeginTransaction() override {}
    void EndTransaction() override {}
    ByteArray Transmit(std::span<const std::uint8_t>, bool) override {
        ++sent;
        return FromHex("61 01");
    }
    ByteArray Control(std::uint32_t, std::span<const std::uint8_t>) override { return {}; }
    std::uint32_t GetProtocol() const override { return Orvel::PCSC::kProtocolT0; }
    int sent = 0;
};

TEST(T0Case2Extended, CollectionIsBoundedWhenTheCardMakesNoProgress) {
    auto channel = std::make_unique<StallingChannel>();
    StallingChannel* card = channel.get();
    CardConnection connection(std::move(channel));
    SmartCardIO::TransactionGuard guard(connection);
    const ResponseAPDU r = guard.Transmit(CommandAPDU(0x00, 0xB0, 0, 0, 300, true));
    EXPECT_EQ(r.SW1(), 0x61);
    EXPECT_LE(card->sent, 300 + 3);
}

TEST(T0Case3, ExtendedWithShortDataGoesOutShort) {
    CardScript script;
    script.Apdu("00 D6 00 00 02 01 02", "90 00");
    EXPECT_EQ(Exchange(script, CommandAPDU(0x00, 0xD6, 0, 0, FromHex("01 02"), true)).SW(), 0x9000);
}

TEST(T0Case3, LongDataAndExtendedCase4AreNotImplemented) {
    CardScript script;
    CardConnection connection(script.Channel());
    SmartCardIO::TransactionGuard guard(connection);
    EXPECT_THROW(guard.Transmit(CommandAPDU(0x00, 0xD6, 0, 0, ByteArray(256), true)),
                 SmartCardIO::SCIOException);
    try {
        guard.Transmit(CommandAPDU(0xD6, 0, 0, ByteArray(300), true));
        ADD_FAILURE();
    } catch (const SmartCardIO::SCIOException& e) {
        EXPECT_EQ(e.Message(), u"Not implemented");
    }
    EXPECT_TRUE(script.Sent().empty());
}

TEST(T0Case4, MoreDataIsFetchedWithOneGetResponse) {
    CardScript script;
    script.Apdu("00 A4 04 00 02 A0 01", "61 10").Apdu("00 C0 00 00 10", Bytes(0x10) + " 90 00");
    const ResponseAPDU r = Exchange(script, CommandAPDU(0xA4, 0x04, 0x00, FromHex("A0 01"), false));
    EXPECT_EQ(r.Data().size(), 0x10u);
}

TEST(T0Case4, SuccessWithoutDataStillAsksForTheAnswer) {
    CardScript script;
    script.Apdu("00 A4 04 00 02 A0 01", "90 00").Apdu("00 C0 00 00 00", "6A 82");
    EXPECT_EQ(Exchange(script, CommandAPDU(0xA4, 0x04, 0x00, FromHex("A0 01"), false)).SW(),
              0x6A82);
}

TEST(T0Case4, GetResponseAsksForTheSmallerOfCardAndCommandLengths) {
    CardScript script;
    const CommandAPDU select(0x00, 0xA4, 0x04, 0x00, FromHex("A0 01"), false);
    script.Apdu("00 A4 04 00 02 A0 01", "61 40").Apdu("00 C0 00 00 20", Bytes(0x20) + " 90 00");
    EXPECT_EQ(Exchange(script, CommandAPDU(select, 0x20)).Data().size(), 0x20u);

    CardScript zero;  // 61 00 and le 0 both count as 256
    zero.Apdu("00 A4 04 00 02 A0 01", "61 00").Apdu("00 C0 00 00 00", Bytes(256) + " 90 00");
    EXPECT_EQ(Exchange(zero, CommandAPDU(0xA4, 0x04, 0x00, FromHex("A0 01"), false)).Data().size(),
              256u);
}

TEST(T0Case4, ErrorStatusIsReturnedWithoutGetResponse) {
    CardScript script;
    script.Apdu("00 A4 04 00 02 A0 01", "6A 82");
    EXPECT_EQ(Exchange(script, CommandAPDU(0xA4, 0x04, 0x00, FromHex("A0 01"), false)).SW(),
              0x6A82);
}

}  // namespace
