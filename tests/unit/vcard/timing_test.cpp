// The timing model of the bench card: the time of an exchange as a real reader and card take
// it, worked out by hand from the character frames of each protocol.
#include "timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace carvix::vcard {
namespace {

using std::chrono::microseconds;

TEST(TimingModel, T0CountsTwelveEtuPerCharacterAndTheProcedureByte) {
    const TimingModel model;  // 4 MHz, Fi=372, Di=12: 31 clocks, 7.75 us per etu
    // READ BINARY of 256 bytes: 5 header bytes, the procedure byte, 256 data bytes and SW.
    // 264 characters of 12 etu: 3168 etu = 24552 us, then 3 ms for the command.
    EXPECT_EQ(ExchangeTime(model, Protocol::T0, 5, 258), microseconds(24552 + 3000));
    // A bare status word: 8 characters, 744 us.
    EXPECT_EQ(ExchangeTime(model, Protocol::T0, 5, 2), microseconds(744 + 3000));
}

TEST(TimingModel, T1ChainsBlocksAtTheInformationFieldSizes) {
    const TimingModel model;  // 125000 bit/s: 8 us per etu
    // One block each way: 10 + 4 and 2 + 4 characters of 11 etu, one guard time of 22 etu.
    EXPECT_EQ(ExchangeTime(model, Protocol::T1, 10, 2), microseconds((20 * 11 + 22) * 8 + 3000));
    // 32 bytes still fit one block to the card; 33 need a second one and the card's R-block
    // between them: 33 + 2 * 4 + 4 + 2 + 4 characters, three changes of direction.
    EXPECT_EQ(ExchangeTime(model, Protocol::T1, 32, 2), microseconds((42 * 11 + 22) * 8 + 3000));
    EXPECT_EQ(ExchangeTime(model, Protocol::T1, 33, 2), microseconds((51 * 11 + 66) * 8 + 3000));
    // From the card, blocks of up to 254 bytes: 255 bytes chain with the reader's R-block.
    EXPECT_EQ(ExchangeTime(model, Protocol::T1, 5, 254), microseconds((267 * 11 + 22) * 8 + 3000));
    EXPECT_EQ(ExchangeTime(model, Protocol::T1, 5, 255),
              microseconds((5 + 4 + 255 + 8 + 4) * 11 * 8 + 3 * 22 * 8 + 3000));
}

TEST(TimingModel, EachProtocolUsesItsOwnBitRateAndTheCommandTime) {
    TimingModel model;
    model.t0BitRate = 9600;
    model.t1BitRate = 1'000'000;
    model.commandMs = 0.5;
    // 10 T=0 characters at 9600 bit/s: 12500 us.
    EXPECT_EQ(ExchangeTime(model, Protocol::T0, 7, 2), microseconds(12500 + 500));
    EXPECT_EQ(ExchangeTime(model, Protocol::T1, 10, 2), microseconds((20 * 11 + 22) + 500));
    model.commandMs = 0;
    EXPECT_EQ(ExchangeTime(model, Protocol::T0, 7, 2), microseconds(12500));
}

TEST(TimingModel, ValuesThatWouldStallOrNotSlowTheCardAreRefused) {
    EXPECT_NO_THROW(CheckTiming(TimingModel{}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const TimingModel bad :
         {TimingModel{0, 125000, 3}, TimingModel{129032, -1, 3}, TimingModel{nan, 125000, 3},
          TimingModel{129032, 2e7, 3}, TimingModel{129032, 125000, -1},
          TimingModel{129032, 125000, 1001}, TimingModel{129032, 125000, nan}}) {
        EXPECT_THROW(CheckTiming(bad), std::invalid_argument) << Describe(bad);
    }
}

}  // namespace
}  // namespace carvix::vcard
