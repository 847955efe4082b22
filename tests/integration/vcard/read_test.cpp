// Reading the sample cards through pcscd: selection, chunked READ BINARY and the T=0 and
// T=1 answer rules, checked against the exact bytes of the card's APDU log.
#include <gtest/gtest.h>

#include "bench_card.h"
#include "pcsc_client.h"

namespace carvix::bench {
namespace {

const std::string kSelectVl = "00A404000DF3810000025345525158564C01";
const std::string kVlFci = "6F0F840DF3810000025345525158564C01";

TEST(T0Card, SelectByAidAnswers61xxAndGetResponseHandsOutTheFci) {
    BenchCard card(SampleCard("sample-t0.json"));
    PcscCard pcsc(card.ReaderName());
    ASSERT_EQ(pcsc.Protocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
    card.ClearApduLog();

    EXPECT_EQ(pcsc.Send(kSelectVl), "6111");
    EXPECT_EQ(pcsc.Send("00C0000011"), kVlFci + "9000");
    EXPECT_EQ(card.ApduLog(),
              (std::vector<ApduExchange>{{kSelectVl, "6111"}, {"00C0000011", kVlFci + "9000"}}));
}

TEST(T0Card, SelectFileGivesSizeBigEndianInBytesTwoAndThree) {
    BenchCard card(SampleCard("sample-t0.json"));
    PcscCard pcsc(card.ReaderName());
    pcsc.Send(kSelectVl);
    pcsc.Send("00C0000011");
    EXPECT_EQ(pcsc.Send("00A40000020D01"), "610A");
    const std::string fcp = pcsc.Send("00C000000A");
    ASSERT_EQ(fcp.size(), 24u);
    EXPECT_EQ(fcp.substr(4, 4), "012C");  // 300 bytes
    EXPECT_EQ(fcp.substr(20), "9000");
}

TEST(T0Card, UnknownAidAndUnknownFileAnswer6A82) {
    BenchCard card(SampleCard("sample-t0.json"));
    PcscCard pcsc(card.ReaderName());
    EXPECT_EQ(pcsc.Send("00A4040005A000000001"), "6A82");
    EXPECT_EQ(pcsc.Send("00A40000020D00"), "6A82");  // no application selected yet
    pcsc.Send(kSelectVl);
    EXPECT_EQ(pcsc.Send("00A40000020D04"), "6A82");
}

TEST(T0Card, WrongLeGets6CxxAndGetResponseWithWrongLeToo) {
    BenchCard card(SampleCard("sample-t0.json"));
    PcscCard pcsc(card.ReaderName());
    pcsc.Send(kSelectVl);
    EXPECT_EQ(pcsc.Send("00C0000020"), "6C11");  // asks for more than waits
    EXPECT_EQ(pcsc.Send("00C0000011"), kVlFci + "9000");
    EXPECT_EQ(pcsc.Send("00C0000011"), "6985");  // nothing left to fetch
    pcsc.Send("00A40000020D02");
    pcsc.Send("00C000000A");
    // 0D02 has 16 bytes: reading 8 at offset 12 goes past the end, offset 16 is outside.
    EXPECT_EQ(pcsc.Send("00B0000C08"), "6C04");
    EXPECT_EQ(pcsc.Send("00B0000C04").size(), 12u);
    EXPECT_EQ(pcsc.Send("00B0001001"), "6B00");
    EXPECT_EQ(pcsc.Send("0084000000"), "6C08");  // challenges have 8 bytes
}

TEST(T0Card, ChunkedReadOfA300ByteBlock) {
    BenchCard card(SampleCard("sample-t0.json"));
    PcscCard pcsc(card.ReaderName());
    pcsc.Send(kSelectVl);
    pcsc.Send("00C0000011");
    pcsc.Send("00A40000020D01");
    pcsc.Send("00C000000A");
    card.ClearApduLog();

    const std::string header = pcsc.Send("00B0000004");
    EXPECT_EQ(header, "010D28019000");  // tag 0D01, 296 body bytes, little-endian
    std::string all;
    for (const std::string cmd : {"00B0000080", "00B0008080", "00B001002C"}) {
        const std::string r = pcsc.Send(cmd);
        ASSERT_EQ(r.substr(r.size() - 4), "9000") << cmd;
        all += r.substr(0, r.size() - 4);
    }
    EXPECT_EQ(all.size(), 600u);
    EXPECT_EQ(all.substr(0, 8), "010D2801");
    const auto log = card.ApduLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1].command, "00B0000080");
    EXPECT_EQ(log[2].command, "00B0008080");
    EXPECT_EQ(log[3].command, "00B001002C");
    EXPECT_EQ(log[3].response.size(), 2u * 44 + 4);
}

TEST(T1Card, AnswersInOneResponse) {
    BenchCard card(SampleCard("sample-t1.json"));
    PcscCard pcsc(card.ReaderName());
    ASSERT_EQ(pcsc.Protocol(), static_cast<DWORD>(SCARD_PROTOCOL_T1));
    EXPECT_EQ(pcsc.Send(kSelectVl + "00"), kVlFci + "9000");
    EXPECT_EQ(pcsc.Send("00A40000020D0000").size(), 24u);
    EXPECT_EQ(pcsc.Send("00B0000004"), "000D1A009000");
}

TEST(T1Card, GetResponseOptionAnswers61xx) {
    BenchCard card(SampleCard("sample-t1.json"), {"--t1-get-response"});
    PcscCard pcsc(card.ReaderName());
    EXPECT_EQ(pcsc.Send(kSelectVl + "00"), "6111");
    EXPECT_EQ(pcsc.Send("00C0000011"), kVlFci + "9000");
    card.Control("t1-get-response off");
    EXPECT_EQ(pcsc.Send(kSelectVl + "00"), kVlFci + "9000");
}

}  // namespace
}  // namespace carvix::bench
