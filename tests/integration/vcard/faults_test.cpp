// Faults armed on a running card hit exactly the command they name.
#include <gtest/gtest.h>

#include "bench_card.h"
#include "pcsc_client.h"

namespace carvix::bench {
namespace {

const std::string kSelectVl = "00A404000DF3810000025345525158564C0100";

TEST(Faults, StatusWordAtTheNthCommandOnly) {
    BenchCard card(SampleCard("sample-t1.json"));
    PcscCard pcsc(card.ReaderName());
    pcsc.Send(kSelectVl);
    card.Control("fault sw:6A82@2");
    EXPECT_EQ(pcsc.Send("00A40000020D0000").size(), 24u);
    EXPECT_EQ(pcsc.Send("00A40000020D0000"), "6A82");
    EXPECT_EQ(pcsc.Send("00A40000020D0000").size(), 24u);
}

TEST(Faults, ShortAndLongAnswers) {
    BenchCard card(SampleCard("sample-t1.json"), {"--fault", "short:1@3", "--fault", "long:2@4"});
    PcscCard pcsc(card.ReaderName());
    pcsc.Send(kSelectVl);
    pcsc.Send("00A40000020D0000");
    EXPECT_EQ(pcsc.Send("00B0000004"), "000D1A9000");
    EXPECT_EQ(pcsc.Send("00B0000004"), "000D1A00A5A59000");
    EXPECT_EQ(pcsc.Send("00B0000004"), "000D1A009000");
}

TEST(Faults, StatusWordFaultHitsGetResponseOnT0) {
    BenchCard card(SampleCard("sample-t0.json"), {"--fault", "sw:6F00@2"});
    PcscCard pcsc(card.ReaderName());
    EXPECT_EQ(pcsc.Send("00A404000DF3810000025345525158564C01"), "6111");
    EXPECT_EQ(pcsc.Send("00C0000011"), "6F00");
    EXPECT_EQ(pcsc.Send("00C0000011"), "6985");  // the fault replaced the data as well
}

TEST(Faults, BadControlCommandsAreRefused) {
    BenchCard card(SampleCard("sample-t1.json"));
    EXPECT_THROW(card.Control("fault sw:6A@1"), std::runtime_error);
    EXPECT_THROW(card.Control("fault remove@0"), std::runtime_error);
    EXPECT_THROW(card.Control("explode"), std::runtime_error);
    EXPECT_NE(card.Control("status").find("inserted=1"), std::string::npos);
}

}  // namespace
}  // namespace carvix::bench
