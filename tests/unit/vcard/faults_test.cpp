#include "faults.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace carvix::vcard {
namespace {

TEST(ParseFault, AcceptsEveryKind) {
    auto sw = ParseFault("sw:6a82@3");
    EXPECT_EQ(sw.kind, Fault::Kind::StatusWord);
    EXPECT_EQ(sw.sw, 0x6A82);
    EXPECT_EQ(sw.at, 3u);
    EXPECT_EQ(ParseFault("remove@1").kind, Fault::Kind::Remove);
    auto s = ParseFault("short:2@4");
    EXPECT_EQ(s.kind, Fault::Kind::Short);
    EXPECT_EQ(s.bytes, 2u);
    EXPECT_EQ(ParseFault("long:256@1").bytes, 256u);
}

TEST(ParseFault, RefusesMalformedSpecs) {
    for (const char* bad :
         {"sw:6A82", "sw:6A8@1", "sw:6A8Z@1", "remove@0", "remove@", "remove:1@2", "short@2",
          "short:0@2", "long:257@1", "long:x@1", "eject@1", "@1", "sw:6A82@-1", "sw:6A82@1x"}) {
        EXPECT_THROW(ParseFault(bad), std::invalid_argument) << bad;
    }
}

TEST(FaultPlan, CountsFromArmingAndFiresOnce) {
    FaultPlan plan;
    plan.Arm(ParseFault("sw:6A82@2"), 10);
    plan.Arm(ParseFault("remove@3"), 10);
    EXPECT_TRUE(plan.Due(11).empty());
    ASSERT_EQ(plan.Due(12).size(), 1u);
    EXPECT_TRUE(plan.Due(12).empty());
    EXPECT_FALSE(plan.TakeRemoval(12));
    EXPECT_TRUE(plan.TakeRemoval(13));
    EXPECT_FALSE(plan.TakeRemoval(13));
    plan.Arm(ParseFault("short:1@1"), 0);
    plan.Clear();
    EXPECT_TRUE(plan.Due(1).empty());
}

}  // namespace
}  // namespace carvix::vcard
