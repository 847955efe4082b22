// What another PC/SC client sees when the card goes away or is reset under it.
#include <gtest/gtest.h>

#include "bench_card.h"
#include "pcsc_client.h"

namespace carvix::bench {
namespace {

const std::string kSelectVl = "00A404000DF3810000025345525158564C01";
const std::vector<std::uint8_t> kRole1Key = Unhex("000102030405060708090A0B0C0D0E0F");

std::uint32_t FailureOf(PcscCard& pcsc, const std::string& apdu) {
    try {
        // The driver may report a link lost mid-command as an empty answer instead of a
        // failure (which of the two depends on when pcscd notices the removal); like the
        // component, the test reads an answer without a status word as a broken-off exchange.
        if (pcsc.Transmit(Unhex(apdu)).size() < 2) {
            return static_cast<std::uint32_t>(SCARD_E_NOT_TRANSACTED);
        }
    } catch (const PcscError& e) {
        return e.code;
    }
    return 0;
}

TEST(Removal, InjectedRemovalIsSeenAsRemoval) {
    BenchCard card(SampleCard("sample-t1.json"), {"--fault", "remove@2"});
    PcscCard pcsc(card.ReaderName());
    EXPECT_EQ(pcsc.Send(kSelectVl + "00").substr(34), "9000");
    // The card is gone before the second command: it fails whether or not pcscd has
    // noticed the removal yet, and never reaches the card.
    const auto code = FailureOf(pcsc, "00A40000020D0000");
    EXPECT_TRUE(code == static_cast<std::uint32_t>(SCARD_E_NOT_TRANSACTED) ||
                code == static_cast<std::uint32_t>(SCARD_W_REMOVED_CARD))
        << std::hex << code;
    EXPECT_TRUE(WaitForCard(card.ReaderName(), false));
    EXPECT_EQ(FailureOf(pcsc, kSelectVl + "00"), static_cast<std::uint32_t>(SCARD_W_REMOVED_CARD));
    EXPECT_EQ(card.ApduLog().size(), 1u);
    EXPECT_THROW(PcscCard{card.ReaderName()}, PcscError);  // nothing to connect to

    card.Insert();
    PcscCard fresh(card.ReaderName());
    EXPECT_EQ(fresh.Send(kSelectVl + "00").substr(34), "9000");
}

TEST(Removal, RemovalAtTheFirstCommandDropsItUnanswered) {
    BenchCard card(SampleCard("sample-t1.json"));
    PcscCard pcsc(card.ReaderName());
    card.Control("fault remove@1");
    // The driver reports a link lost mid-command as an empty answer.
    std::vector<std::uint8_t> reply;
    try {
        reply = pcsc.Transmit(Unhex(kSelectVl + "00"));
    } catch (const PcscError&) {
    }
    EXPECT_LT(reply.size(), 2u);
    EXPECT_TRUE(WaitForCard(card.ReaderName(), false));
    const auto log = card.ApduLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], (ApduExchange{kSelectVl + "00", ""}));
}

TEST(Removal, RemoveAndInsertEndTheSecurityStatus) {
    BenchCard card(SampleCard("sample-t1.json"));
    {
        PcscCard pcsc(card.ReaderName());
        pcsc.Send(kSelectVl + "00");
        const auto c = pcsc.Transmit(Unhex("0084000008"));
        ASSERT_EQ(
            pcsc.Send("0082008110" + Hex(AuthResponse(kRole1Key, {c.begin(), c.begin() + 8}))),
            "9000");
        card.Remove();
        EXPECT_EQ(FailureOf(pcsc, "00B0000001"), static_cast<std::uint32_t>(SCARD_W_REMOVED_CARD));
    }
    card.Insert();
    PcscCard pcsc(card.ReaderName());
    pcsc.Send(kSelectVl + "00");
    pcsc.Send("00A40000020D0300");
    EXPECT_EQ(pcsc.Send("00D6000001AA"), "6982");
}

TEST(Reset, SecondClientResetsTheCardBetweenTwoOperations) {
    BenchCard card(SampleCard("sample-t0.json"));
    PcscCard first(card.ReaderName());
    EXPECT_EQ(first.Send(kSelectVl), "6111");
    first.Send("00C0000011");
    const auto c = first.Transmit(Unhex("0084000008"));
    ASSERT_EQ(first.Send("0082008110" + Hex(AuthResponse(kRole1Key, {c.begin(), c.begin() + 8}))),
              "9000");

    {
        PcscCard second(card.ReaderName());
        second.Disconnect(SCARD_RESET_CARD);
    }
    // The first client learns of the reset once, then goes on after reconnecting.
    EXPECT_EQ(FailureOf(first, "00A40000020D03"), static_cast<std::uint32_t>(SCARD_W_RESET_CARD));
    first.Reconnect(SCARD_LEAVE_CARD);
    EXPECT_EQ(first.Send(kSelectVl), "6111");
    first.Send("00C0000011");
    EXPECT_EQ(first.Send("00A40000020D03"), "610A");
    first.Send("00C000000A");
    EXPECT_EQ(first.Send("00D6000001AA"), "6982");  // the reset ended the role
}

TEST(Reset, TransactionKeepsTheOtherClientWaitingNotFailing) {
    BenchCard card(SampleCard("sample-t1.json"));
    PcscCard first(card.ReaderName());
    PcscCard second(card.ReaderName());
    first.BeginTransaction();
    EXPECT_EQ(first.Send(kSelectVl + "00").substr(34), "9000");
    first.EndTransaction();
    EXPECT_EQ(second.Send("00A40000020D0000").size(), 24u);  // selection is the card's, shared
}

}  // namespace
}  // namespace carvix::bench
