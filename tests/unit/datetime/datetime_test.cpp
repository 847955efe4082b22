#include "carvix/support/datetime.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/time_zone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using Orvel::DateTime;
using Orvel::DateTimeKind;
using Orvel::TimeSpan;

constexpr DateTimeKind kUtc = DateTimeKind::Utc;
constexpr DateTimeKind kUnspecified = DateTimeKind::Unspecified;

// The parameter named by an ArgumentOutOfRangeException thrown by `f`, or "" if none was.
std::u16string OutOfRangeParam(const std::function<void()>& f) {
    try {
        f();
    } catch (const Orvel::ArgumentOutOfRangeException& e) {
        return e.ParamName();
    }
    return u"";
}

// Days since 0001-01-01 of a civil date, by an era-based method independent of the library.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = y / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 306;  // 0001-01-01 is day 0
}

TEST(DateTimeConstruction, CalendarChecksNameTheFailingParameter) {
    EXPECT_NO_THROW(DateTime(2024, 2, 29, kUtc));
    EXPECT_NO_THROW(DateTime(2000, 2, 29, kUtc));
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2023, 2, 29, kUtc); }), u"day");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(1900, 2, 29, kUtc); }), u"day");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 4, 31, kUtc); }), u"day");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 1, 0, kUtc); }), u"day");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 0, 1, kUtc); }), u"month");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 13, 1, kUtc); }), u"month");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(0, 1, 1, kUtc); }), u"year");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(10000, 1, 1, kUtc); }), u"year");
    // The year is checked before the month and the month before the day.
    EXPECT_EQ(OutOfRangeParam([] { DateTime(0, 13, 40, kUtc); }), u"year");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 13, 40, kUtc); }), u"month");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 1, 1, static_cast<DateTimeKind>(3)); }), u"kind");
    try {
        DateTime(2023, 2, 29, kUtc);
        FAIL();
    } catch (const Orvel::ArgumentOutOfRangeException& e) {
        EXPECT_EQ(
            e.Message(),
            u"Specified argument was out of the range of valid values.\r\nParameter Name: day");
    }
}

TEST(DateTimeConstruction, TimeOfDayChecks) {
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 1, 1, 24, 0, 0, 0, kUtc); }), u"hour");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 1, 1, -1, 0, 0, 0, kUtc); }), u"hour");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 1, 1, 0, 60, 0, 0, kUtc); }), u"minute");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 1, 1, 0, 0, 60, 0, kUtc); }), u"second");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(2021, 1, 1, 0, 0, 0, 1001, kUtc); }), u"millisecond");
    EXPECT_EQ(
        OutOfRangeParam([] { DateTime(2021, 1, 1, 0, 0, 0, 0, DateTimeKind::LocalAmbiguousDst); }),
        u"kind");
    // A millisecond of 1000 is the next second.
    EXPECT_EQ(DateTime(2021, 1, 1, 0, 0, 59, 1000, kUtc), DateTime(2021, 1, 1, 0, 1, 0, 0, kUtc));
    try {
        DateTime(9999, 12, 31, 23, 59, 59, 1000, kUtc);
        FAIL() << "past the last tick";
    } catch (const Orvel::ArgumentOutOfRangeException&) {
        FAIL() << "wrong class";
    } catch (const Orvel::ArgumentException& e) {
        EXPECT_EQ(e.Message(),
                  u"Combination of arguments to the DateTime constructor is out of the legal "
                  u"range.");
    }
    EXPECT_EQ(DateTime(9999, 12, 31, 23, 59, 59, 999, kUtc).Ticks(), DateTime::kMaxTicks - 9999);
}

TEST(DateTimeConstruction, TicksAndKindLimits) {
    EXPECT_EQ(DateTime(DateTime::kMaxTicks).Ticks(), DateTime::kMaxTicks);
    EXPECT_EQ(OutOfRangeParam([] { DateTime(DateTime::kMaxTicks + 1); }), u"ticks");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(~0ull, kUtc); }), u"ticks");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(5, static_cast<DateTimeKind>(3)); }), u"kind");
    const DateTime d(123, DateTimeKind::Local);
    EXPECT_EQ(d.Ticks(), 123u);
    EXPECT_EQ(d.Kind(), DateTimeKind::Local);
    EXPECT_EQ(DateTime().Ticks(), 0u);
    EXPECT_EQ(DateTime().Kind(), kUnspecified);
    // Equality and ordering ignore the kind.
    EXPECT_EQ(DateTime(7, kUtc), DateTime(7, DateTimeKind::Local));
    EXPECT_LT(DateTime(7, DateTimeKind::Local), DateTime(8, kUtc));
}

TEST(DateTimeCalendar, EveryDayRoundTripsAgainstAnIndependentCalendar) {
    for (int year = 1; year <= 9999; ++year) {
        for (int month = 1; month <= 12; ++month) {
            const int days = DateTime::DaysInMonth(year, month);
            for (int day = 1; day <= days; day += (year % 97 == 0 ? 1 : 9)) {
                const DateTime d(year, month, day, kUnspecified);
                const std::int64_t n = DaysFromCivil(year, month, day);
                ASSERT_EQ(d.Ticks(), static_cast<std::uint64_t>(n) * Orvel::kTicksPerDay)
                    << year << "-" << month << "-" << day;
                ASSERT_EQ(d.Year(), year);
                ASSERT_EQ(d.Month(), month);
                ASSERT_EQ(d.Day(), day);
                ASSERT_EQ(d.DayOfWeek(), (n + 1) % 7);
            }
        }
    }
}

TEST(DateTimeCalendar, LeapYearsAndMonthLengths) {
    EXPECT_TRUE(DateTime::IsLeapYear(2024));
    EXPECT_TRUE(DateTime::IsLeapYear(2000));
    EXPECT_FALSE(DateTime::IsLeapYear(1900));
    EXPECT_FALSE(DateTime::IsLeapYear(2023));
    EXPECT_EQ(DateTime::DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DateTime::DaysInMonth(2100, 2), 28);
    EXPECT_EQ(DateTime::DaysInMonth(2021, 12), 31);
    EXPECT_EQ(OutOfRangeParam([] { DateTime::IsLeapYear(0); }), u"year");
    EXPECT_EQ(OutOfRangeParam([] { DateTime::DaysInMonth(2021, 0); }), u"month");
    try {
        DateTime::DaysInMonth(2021, 13);
        FAIL();
    } catch (const Orvel::ArgumentOutOfRangeException& e) {
        EXPECT_EQ(e.Message(), u"Month must be between one and twelve.\r\nParameter Name: month");
    }
}

TEST(DateTimeCalendar, FieldsOfKnownInstants) {
    const DateTime first(0);
    EXPECT_EQ(first.DayOfWeek(), 1);  // 0001-01-01 was a Monday
    const DateTime d(2024, 3, 5, 17, 45, 9, 321, kUtc);
    EXPECT_EQ(d.DayOfWeek(), 2);
    EXPECT_EQ(d.Hour(), 17);
    EXPECT_EQ(d.Minute(), 45);
    EXPECT_EQ(d.Second(), 9);
    EXPECT_EQ(d.Millisecond(), 321);
    EXPECT_EQ(d.Date(), DateTime(2024, 3, 5, kUtc));
    EXPECT_EQ(d.Date().Kind(), kUtc);
    const DateTime last(DateTime::kMaxTicks);
    EXPECT_EQ(last.Year(), 9999);
    EXPECT_EQ(last.Month(), 12);
    EXPECT_EQ(last.Day(), 31);
    EXPECT_EQ(last.Hour(), 23);
    EXPECT_EQ(last.Second(), 59);
    // The last day of a 400-year cycle and of a leap year.
    EXPECT_EQ(DateTime(2000, 12, 31, kUtc).AddDays(1), DateTime(2001, 1, 1, kUtc));
    EXPECT_EQ(DateTime(2024, 12, 31, kUtc).Day(), 31);
}

TEST(DateTimeArithmetic, AddDaysRoundsAndChecksRange) {
    const DateTime d(2024, 2, 28, DateTimeKind::Local);
    EXPECT_EQ(d.AddDays(1), DateTime(2024, 2, 29, kUtc));
    EXPECT_EQ(d.AddDays(1).Kind(), DateTimeKind::Local);
    EXPECT_EQ(d.AddDays(-59), DateTime(2023, 12, 31, kUtc));
    EXPECT_EQ(d.AddDays(0.5).Hour(), 12);
    // Rounded to the nearest millisecond.
    EXPECT_EQ(d.AddDays(0.4 / 86'400'000.0).Ticks(), d.Ticks());
    EXPECT_EQ(d.AddDays(0.6 / 86'400'000.0).Ticks(), d.Ticks() + 10'000);
    try {
        d.AddDays(4e6);
        FAIL();
    } catch (const Orvel::ArgumentOutOfRangeException& e) {
        EXPECT_EQ(e.ParamName(), u"value");
        EXPECT_EQ(e.Message().rfind(u"Value to add was out of range.", 0), 0u);
    }
    try {
        d.AddDays(3e6);
        FAIL();
    } catch (const Orvel::ArgumentOutOfRangeException& e) {
        EXPECT_EQ(e.ParamName(), u"ticks");
        EXPECT_EQ(e.Message().rfind(
                      u"The added or subtracted value results in an un-representable DateTime.", 0),
                  0u);
    }
    EXPECT_EQ(OutOfRangeParam([] { DateTime(0).AddDays(-1); }), u"ticks");
    EXPECT_EQ(OutOfRangeParam([] { DateTime(0).AddDays(std::nan("")); }), u"value");
    EXPECT_EQ(DateTime(DateTime::kMaxTicks).AddDays(0).Ticks(), DateTime::kMaxTicks);
}

TEST(DateTimeArithmetic, SpansAndOverflow) {
    const DateTime d(2024, 3, 31, 3, 0, 0, 0, kUtc);
    EXPECT_EQ(d - TimeSpan::FromMinutes(60), DateTime(2024, 3, 31, 2, 0, 0, 0, kUtc));
    EXPECT_EQ(d + TimeSpan::FromMinutes(-180), DateTime(2024, 3, 31, kUtc));
    EXPECT_EQ(d - DateTime(2024, 3, 31, kUtc), TimeSpan(3 * Orvel::kTicksPerHour));
    EXPECT_THROW(DateTime(0) - TimeSpan(1), Orvel::ArgumentException);
    EXPECT_THROW(DateTime(DateTime::kMaxTicks) - TimeSpan(-1), Orvel::ArgumentException);
    EXPECT_THROW(DateTime(0) - TimeSpan::MaxValue(), Orvel::ArgumentException);
    EXPECT_THROW(DateTime(0) - TimeSpan::MinValue(), Orvel::ArgumentException);
    try {
        (void)(DateTime(0) - TimeSpan(1));
    } catch (const Orvel::ArgumentException& e) {
        EXPECT_TRUE(e.ParamName().empty());
        EXPECT_EQ(e.Message(),
                  u"The added or subtracted value results in an un-representable DateTime.");
    }
    try {
        (void)TimeSpan::MaxValue().Add(TimeSpan(1));
        FAIL();
    } catch (const Orvel::OverflowException& e) {
        EXPECT_EQ(e.Message(), u"TimeSpan overflowed because the duration is too long.");
    }
    EXPECT_THROW((void)TimeSpan::MinValue().Negate(), Orvel::OverflowException);
    EXPECT_EQ(TimeSpan::MaxValue().Add(TimeSpan::MinValue()), TimeSpan(-1));
    EXPECT_EQ(TimeSpan::Zero().Ticks(), 0);
}

TEST(DateTimeFileTime, EpochAndLimits) {
    try {
        (void)DateTime(0, kUtc).ToFileTime();
        FAIL();
    } catch (const Orvel::ArgumentOutOfRangeException& e) {
        EXPECT_EQ(e.Message().rfind(u"Not a valid Win32 FileTime.", 0), 0u);
    }
    EXPECT_EQ(DateTime(1601, 1, 1, kUtc).ToFileTime().Value(), 0u);
    EXPECT_EQ(DateTime(1601, 1, 1, kUtc).Ticks(), DateTime::kFileTimeEpochTicks);
    const Orvel::FileTime ft = Orvel::FileTime::FromValue(0x01DA'0000'1234'5678ull);
    const DateTime fromFt(ft);
    EXPECT_EQ(fromFt.Kind(), kUtc);
    EXPECT_EQ(fromFt.ToFileTime().dwHighDateTime, 0x01DA0000u);
    EXPECT_EQ(fromFt.ToFileTime().dwLowDateTime, 0x12345678u);
    // 1970-01-01 is 116444736000000000 in FILETIME units.
    EXPECT_EQ(DateTime(Orvel::FileTime::FromValue(116444736000000000ull)),
              DateTime(1970, 1, 1, kUtc));
    const std::uint64_t lastFt = DateTime::kMaxTicks - DateTime::kFileTimeEpochTicks;
    EXPECT_EQ(DateTime(Orvel::FileTime::FromValue(lastFt)).Ticks(), DateTime::kMaxTicks);
    EXPECT_EQ(OutOfRangeParam([&] { DateTime(Orvel::FileTime::FromValue(lastFt + 1)); }), u"ft");
}

TEST(DateTimeFileTime, KindDecidesWhetherTheZoneApplies) {
    Orvel::TimeZoneRules rules;
    rules.bias = -120;  // UTC+2, no daylight saving time
    const Orvel::LocalTimeZone zone(rules);
    const DateTime noon(2024, 6, 1, 12, 0, 0, 0, kUnspecified);
    const std::uint64_t noonFt = noon.Ticks() - DateTime::kFileTimeEpochTicks;
    EXPECT_EQ(noon.ToFileTime(zone).Value(), noonFt);
    EXPECT_EQ(DateTime(noon.Ticks(), kUtc).ToFileTime(zone).Value(), noonFt);
    EXPECT_EQ(DateTime(noon.Ticks(), DateTimeKind::Local).ToFileTime(zone).Value(),
              noonFt - 2 * Orvel::kTicksPerHour);
    // A local time just after the epoch lies before it in UTC.
    EXPECT_THROW((void)DateTime(1601, 1, 1, 1, 0, 0, 0, DateTimeKind::Local).ToFileTime(zone),
                 Orvel::ArgumentOutOfRangeException);
}

TEST(DateTimeSystemTime, RoundTripsThroughTheZone) {
    Orvel::TimeZoneRules rules;
    rules.bias = 300;  // UTC-5
    const Orvel::LocalTimeZone zone(rules);
    const DateTime local(2024, 3, 5, 21, 30, 15, 250, DateTimeKind::Local);
    const Orvel::SystemTime st = local.ToSystemTime(zone);
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 6);
    EXPECT_EQ(st.wDayOfWeek, 3);
    EXPECT_EQ(st.wHour, 2);
    EXPECT_EQ(st.wMinute, 30);
    EXPECT_EQ(st.wSecond, 15);
    EXPECT_EQ(st.wMilliseconds, 250);
    const DateTime back(st, zone);
    EXPECT_EQ(back, local);
    EXPECT_EQ(back.Kind(), DateTimeKind::Local);
    // A calendar time the platform refuses (before 1601, or no date at all) is the FILETIME
    // origin, seen in local time.
    Orvel::SystemTime old{1500, 6, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(DateTime(old, zone), DateTime(1600, 12, 31, 19, 0, 0, 0, kUtc));
    Orvel::SystemTime bad{2024, 13, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(DateTime(bad, zone).Year(), 1600);
    Orvel::SystemTime feb30{2024, 2, 0, 30, 0, 0, 0, 0};
    EXPECT_EQ(DateTime(feb30, zone).Year(), 1600);
    // Beyond the DateTime range but a valid calendar time: parameter "st".
    Orvel::SystemTime far{12000, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(OutOfRangeParam([&] { DateTime(far, zone); }), u"st");
}

TEST(DateTimeFormat, FormatsTheValuesOwnFields) {
    EXPECT_EQ(DateTime(2024, 3, 5, kUtc).ToString(u"%d%m%Y"), u"05032024");
    EXPECT_EQ(DateTime(2022, 3, 5, 17, 45, 0, 0, DateTimeKind::Local).ToString(u"%d%m%Y"),
              u"05032022");
    EXPECT_EQ(DateTime(2024, 3, 5, 7, 8, 9, 0, kUtc).ToString(u"%H:%M:%S %A %B"),
              u"07:08:09 Tuesday March");
    EXPECT_EQ(DateTime(2024, 3, 5, kUtc).ToString(u""), u"");
    // Years below 1000 keep four digits, so a card date is always eight digits long.
    EXPECT_EQ(DateTime(5, 1, 9, kUtc).ToString(u"%d%m%Y"), u"09010005");
    EXPECT_EQ(DateTime(999, 12, 31, kUtc).ToString(u"%Y|%%Y|%%%Y"), u"0999|%Y|%0999");
    EXPECT_EQ(DateTime(9999, 12, 31, kUtc).ToString(u"%Y%"), u"9999%");
    // Text around the fields, outside the Basic Multilingual Plane included, is kept.
    EXPECT_EQ(DateTime(2024, 3, 5, kUtc).ToString(u"é%Y\U0001F600"), u"é2024\U0001F600");
    // 255 characters fit; a result that does not fit in 256 gives empty text.
    EXPECT_EQ(DateTime(2024, 3, 5, kUtc).ToString(std::u16string(251, u'x') + u"%Y").size(), 255u);
    EXPECT_EQ(DateTime(2024, 3, 5, kUtc).ToString(std::u16string(252, u'x') + u"%Y"), u"");
}

}  // namespace
