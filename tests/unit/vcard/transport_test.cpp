// The card side of the T=0 and T=1 answer rules, and faults around them.
#include "transport.h"

#include <gtest/gtest.h>

#include "test_card.h"

namespace carvix::vcard {
namespace {

struct Card {
    explicit Card(Protocol p)
        : image(testing::SmallCard(p)), applet(image, [] {}), transport(applet, p) {}
    std::string Send(const std::string& hex) {
        const auto out = transport.Exchange(FromHex(hex));
        return out.dropLink ? "dropped" : ToHex(out.response);
    }
    CardImage image;
    Applet applet;
    Transport transport;
};

const std::string kSelectA = "00A4040005A000000001";
const std::string kFciA = "6F078405A000000001";

TEST(T0Rules, DataCommandWithResponseDataAnswers61xx) {
    Card c(Protocol::T0);
    EXPECT_EQ(c.Send(kSelectA), "6109");
    EXPECT_EQ(c.Send("00C0000009"), kFciA + "9000");
    EXPECT_EQ(c.Send("00C0000009"), "6985");
}

TEST(T0Rules, CaseFourWithLeIsStillAnsweredAs61xx) {
    Card c(Protocol::T0);
    EXPECT_EQ(c.Send(kSelectA + "00"), "6109");
}

TEST(T0Rules, GetResponseInPiecesAndWithWrongLe) {
    Card c(Protocol::T0);
    c.Send(kSelectA);
    EXPECT_EQ(c.Send("00C0000000"), "6C09");  // 256 asked, 9 waiting
    EXPECT_EQ(c.Send("00C0000004"), kFciA.substr(0, 8) + "6105");
    EXPECT_EQ(c.Send("00C0000005"), kFciA.substr(8) + "9000");
}

TEST(T0Rules, AnotherCommandDropsWaitingData) {
    Card c(Protocol::T0);
    c.Send(kSelectA);
    EXPECT_EQ(c.Send("00A40000020102"), "610A");
    EXPECT_EQ(c.Send("00C000000A"),
              "01020004000401000000"
              "9000");
    EXPECT_EQ(c.Send("0084000008").size(), 20u);
    EXPECT_EQ(c.Send("00C0000008"), "6985");  // a case 2 answer is never held back
}

TEST(T0Rules, CaseTwoWithWrongLeGets6Cxx) {
    Card c(Protocol::T0);
    c.Send(kSelectA);
    c.Send("00A40000020102");
    EXPECT_EQ(c.Send("00B0000008"), "6C04");
    EXPECT_EQ(c.Send("00B0000004"), "090909099000");
    EXPECT_EQ(c.Send("0084000000"), "6C08");
}

TEST(T1Rules, OneResponseUnlessAskedFor61xx) {
    Card c(Protocol::T1);
    EXPECT_EQ(c.Send(kSelectA + "00"), kFciA + "9000");
    EXPECT_EQ(c.Send(kSelectA), "9000");  // no Le: no data
    EXPECT_EQ(c.Send(kSelectA + "04"), kFciA.substr(0, 8) + "6105");
    EXPECT_EQ(c.Send("00C0000005"), kFciA.substr(8) + "9000");
    c.transport.SetT1GetResponse(true);
    EXPECT_EQ(c.Send(kSelectA + "00"), "6109");
    EXPECT_EQ(c.Send("00C0000000"), kFciA + "9000");  // T=1 hands out what waits
}

TEST(Faults, StatusWordReplacesTheCommandWhichDoesNotRun) {
    Card c(Protocol::T1);
    c.transport.Faults().Arm(ParseFault("sw:6A82@1"), c.transport.Commands());
    EXPECT_EQ(c.Send(kSelectA + "00"), "6A82");
    EXPECT_EQ(c.Send("00A40000020101"
                     "00"),
              "6A82");  // A was never selected
    EXPECT_EQ(c.Send(kSelectA + "00"), kFciA + "9000");
}

TEST(Faults, RemovalTakesEffectAfterTheAnswerBeforeIt) {
    Card c(Protocol::T1);
    c.transport.Faults().Arm(ParseFault("remove@2"), 0);
    const auto first = c.transport.Exchange(FromHex(kSelectA + "00"));
    EXPECT_FALSE(first.dropLink);
    EXPECT_TRUE(first.dropAfter);
    EXPECT_EQ(ToHex(first.response), kFciA + "9000");

    c.transport.Faults().Arm(ParseFault("remove@1"), c.transport.Commands());
    const auto second = c.transport.Exchange(FromHex(kSelectA + "00"));
    EXPECT_TRUE(second.dropLink);
}

TEST(Faults, ShortAndLongChangeOnlyTheData) {
    Card c(Protocol::T1);
    c.transport.Faults().Arm(ParseFault("short:2@1"), 0);
    c.transport.Faults().Arm(ParseFault("long:1@2"), 0);
    c.transport.Faults().Arm(ParseFault("short:5@3"), 0);
    EXPECT_EQ(c.Send(kSelectA + "00"), kFciA.substr(0, 14) + "9000");
    EXPECT_EQ(c.Send(kSelectA + "00"), kFciA + "A59000");
    EXPECT_EQ(c.Send("B0220001"), "9000");  // nothing to cut
}

TEST(Reset, EndsSelectionAndWaitingData) {
    Card c(Protocol::T0);
    c.Send(kSelectA);
    c.transport.Reset();
    EXPECT_EQ(c.Send("00C0000009"), "6985");
    EXPECT_EQ(c.Send("00A40000020101"), "6A82");
}

}  // namespace
}  // namespace carvix::vcard
