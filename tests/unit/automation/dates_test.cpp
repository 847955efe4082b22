// OLE DATE conversions, including dates before 1899-12-30 and the range limits.
#include "carvix/automation/oleauto.h"

#include <gtest/gtest.h>

namespace {

SYSTEMTIME At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return SYSTEMTIME{static_cast<std::uint16_t>(y),
                      static_cast<std::uint16_t>(mo),
                      0,
                      static_cast<std::uint16_t>(d),
                      static_cast<std::uint16_t>(h),
                      static_cast<std::uint16_t>(mi),
                      static_cast<std::uint16_t>(s),
                      static_cast<std::uint16_t>(ms)};
}

double ToDate(SYSTEMTIME st) {
    double d = -1e9;
    EXPECT_EQ(SystemTimeToVariantTime(&st, &d), 1);
    return d;
}

TEST(VariantTime, KnownValues) {
    EXPECT_DOUBLE_EQ(ToDate(At(1899, 12, 30)), 0.0);
    EXPECT_DOUBLE_EQ(ToDate(At(1900, 1, 1, 12)), 2.5);
    EXPECT_DOUBLE_EQ(ToDate(At(1899, 12, 29, 6)), -1.25);  // the fraction still counts forward
    EXPECT_DOUBLE_EQ(ToDate(At(100, 1, 1)), -657434.0);
    EXPECT_DOUBLE_EQ(ToDate(At(2000, 2, 29, 0, 0, 0, 999)), 36585.0);  // milliseconds ignored
    EXPECT_DOUBLE_EQ(ToDate(At(29, 1, 1)), ToDate(At(2029, 1, 1)));    // two-digit years
    EXPECT_DOUBLE_EQ(ToDate(At(30, 1, 1)), ToDate(At(1930, 1, 1)));
}

TEST(VariantTime, RoundTripsBeforeAndAfterTheEpoch) {
    for (double date : {-657434.0, -1.25, -0.5, 0.0, 0.75, 36526.999988425926, 2958465.0}) {
        SYSTEMTIME st{};
        ASSERT_EQ(VariantTimeToSystemTime(date, &st), 1) << date;
        EXPECT_NEAR(ToDate(st), date == -0.5 ? 0.5 : date, 1e-9) << date;
    }
    SYSTEMTIME st{};
    ASSERT_EQ(VariantTimeToSystemTime(-1.25, &st), 1);
    EXPECT_EQ(st.wYear, 1899);
    EXPECT_EQ(st.wMonth, 12);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wHour, 6);
    EXPECT_EQ(st.wDayOfWeek, 5);  // a Friday
    // Just under midnight rounds up into the next day, also before the epoch.
    ASSERT_EQ(VariantTimeToSystemTime(-1.9999999, &st), 1);
    EXPECT_EQ(st.wDay, 30);
    EXPECT_EQ(st.wHour, 0);
}

TEST(VariantTime, RejectsOutOfRange) {
    SYSTEMTIME st{};
    double d = 0;
    EXPECT_EQ(VariantTimeToSystemTime(-657435.0, &st), 0);
    EXPECT_EQ(VariantTimeToSystemTime(2958466.0, &st), 0);
    EXPECT_EQ(VariantTimeToSystemTime(__builtin_nan(""), &st), 0);
    EXPECT_EQ(VariantTimeToSystemTime(0.0, nullptr), 0);
    SYSTEMTIME bad = At(10000, 1, 1);
    EXPECT_EQ(SystemTimeToVariantTime(&bad, &d), 0);
    bad = At(2020, 13, 1);
    EXPECT_EQ(SystemTimeToVariantTime(&bad, &d), 0);
    bad = At(2020, 1, 1, 24);
    EXPECT_EQ(SystemTimeToVariantTime(&bad, &d), 0);
    EXPECT_EQ(SystemTimeToVariantTime(nullptr, &d), 0);
}

}  // namespace
