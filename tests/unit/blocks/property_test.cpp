// For random values that a model accepts, decoding the encoded block gives the model back.
#include "carvix/blocks/card_block.h"
#include "model_samples.h"

#include <gtest/gtest.h>

namespace {

using carvix::test::AllModels;
using carvix::test::Differences;
using carvix::test::FillRandom;

TEST(RoundTrip, RandomAcceptedValuesSurviveEncodeAndDecode) {
    std::mt19937 random(20261208);
    for (const auto& kind : AllModels()) {
        for (int round = 0; round < 300; ++round) {
            auto model = kind.make();
            FillRandom(*model, random);
            const Orvel::ByteArray bytes = model->Encode();
            auto decoded = kind.make();
            decoded->Decode(bytes);
            ASSERT_EQ(Differences(*model, *decoded), "") << kind.name << " round " << round;
            ASSERT_EQ(decoded->Encode(), bytes) << kind.name << " round " << round;
        }
    }
}

}  // namespace
