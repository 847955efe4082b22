#include "carvix/support/time_zone.h"
#include "carvix/support/datetime.h"
#include "carvix/support/exceptions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using Orvel::DateTime;
using Orvel::DateTimeKind;
using Orvel::LocalTimeZone;
using Orvel::TimeZoneRules;
using Orvel::TransitionRule;

constexpr DateTimeKind kUtc = DateTimeKind::Utc;
constexpr DateTimeKind kLocal = DateTimeKind::Local;

TimeZoneRules Posix(const char* rule) {
    const auto rules = Orvel::ParsePosixTimeZone(rule);
    EXPECT_TRUE(rules.has_value()) << rule;
    return rules.value_or(TimeZoneRules{});
}

DateTime At(int y, int mo, int d, int h, int mi, DateTimeKind kind) {
    return DateTime(y, mo, d, h, mi, 0, 0, kind);
}

TEST(PosixRule, ReducesToBiasAndTransitionRules) {
    const TimeZoneRules cet = Posix("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_TRUE(cet.hasDaylightInformation);
    EXPECT_EQ(cet.bias, -60);
    EXPECT_EQ(cet.daylightBias, -60);
    EXPECT_EQ(cet.daylightDate, (TransitionRule{3, 0, 5, 2, 0, 0, 0}));
    EXPECT_EQ(cet.standardDate, (TransitionRule{10, 0, 5, 3, 0, 0, 0}));

    const TimeZoneRules india = Posix("IST-5:30");
    EXPECT_FALSE(india.hasDaylightInformation);
    EXPECT_EQ(india.bias, -330);

    const TimeZoneRules chatham = Posix("<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45");
    EXPECT_EQ(chatham.bias, -765);
    EXPECT_EQ(chatham.daylightBias, -60);
    EXPECT_EQ(chatham.daylightDate, (TransitionRule{9, 0, 5, 2, 45, 0, 0}));
    EXPECT_EQ(chatham.standardDate, (TransitionRule{4, 0, 1, 3, 45, 0, 0}));

    // Negative daylight saving time: the standard time is the summer time.
    const TimeZoneRules dublin = Posix("IST-1GMT0,M10.5.0,M3.5.0/1");
    EXPECT_EQ(dublin.bias, -60);
    EXPECT_EQ(dublin.daylightBias, 60);

    // Transition times outside one day.
    EXPECT_EQ(Posix("<-02>2<-01>,M3.5.0/-1,M10.5.0/0").daylightDate,
              (TransitionRule{3, 0, 5, -1, 0, 0, 0}));
    EXPECT_EQ(Posix("IST-2IDT,M3.4.4/26,M10.5.0").daylightDate,
              (TransitionRule{3, 4, 4, 26, 0, 0, 0}));
    EXPECT_EQ(Posix("XST3:30XDT,M3.2.0/-2:30,M11.1.0").daylightDate,
              (TransitionRule{3, 0, 2, -2, -30, 0, 0}));

    // A daylight name without rules, and an explicit daylight offset.
    const TimeZoneRules est = Posix("EST5EDT");
    EXPECT_EQ(est.bias, 300);
    EXPECT_EQ(est.daylightBias, -60);
    EXPECT_EQ(est.daylightDate, (TransitionRule{3, 0, 2, 2, 0, 0, 0}));
    EXPECT_EQ(Posix("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0").daylightBias, -30);
}

TEST(PosixRule, RefusesWhatItCannotRepresent) {
    for (const char* bad :
         {"", "E5", "EST", "EST5EDT,J60,J300", "EST5EDT,60,300", "CET-1CEST,M13.5.0,M10.5.0",
          "CET-1CEST,M3.6.0,M10.5.0", "CET-1CEST,M3.5.7,M10.5.0", "CET-1CEST,M3.5.0",
          "CET-1CEST,M3.5.0,", "CET-1CEST,M3.5.0,M10.5.0/999", "CET-25", "<AB>3", "<ABC3",
          "CET-1 trailing"}) {
        EXPECT_FALSE(Orvel::ParsePosixTimeZone(bad).has_value()) << bad;
    }
}

// TZif data of the given version with one local time type and a footer.
std::vector<std::uint8_t> MakeTzif(char version, std::int32_t utoff, const std::string& footer) {
    auto header = [&](std::vector<std::uint8_t>& out) {
        const std::uint8_t h[20] = {'T', 'Z', 'i', 'f', static_cast<std::uint8_t>(version)};
        out.insert(out.end(), h, h + 20);
        const std::uint32_t counts[6] = {0, 0, 0, 0, 1, 4};  // one type, four chars
        for (std::uint32_t c : counts) {
            for (int s = 24; s >= 0; s -= 8) {
                out.push_back(static_cast<std::uint8_t>(c >> s));
            }
        }
        for (int s = 24; s >= 0; s -= 8) {
            out.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(utoff) >> s));
        }
        out.insert(out.end(), {0, 0, 'X', 'Y', 'Z', 0});
    };
    std::vector<std::uint8_t> data;
    header(data);
    if (version >= '2') {
        header(data);
        data.push_back('\n');
        data.insert(data.end(), footer.begin(), footer.end());
        data.push_back('\n');
    }
    return data;
}

TEST(TzifData, FooterRuleOrFixedOffset) {
    const auto withRule =
        Orvel::TimeZoneRulesFromTzif(MakeTzif('2', 3600, "CET-1CEST,M3.5.0,M10.5.0/3"));
    ASSERT_TRUE(withRule);
    EXPECT_EQ(*withRule, Posix("CET-1CEST,M3.5.0,M10.5.0/3"));

    const auto noRule = Orvel::TimeZoneRulesFromTzif(MakeTzif('2', 19800, ""));
    ASSERT_TRUE(noRule);
    EXPECT_FALSE(noRule->hasDaylightInformation);
    EXPECT_EQ(noRule->bias, -330);

    const auto v1 = Orvel::TimeZoneRulesFromTzif(MakeTzif('\0', -18000, ""));
    ASSERT_TRUE(v1);
    EXPECT_EQ(v1->bias, 300);

    // A damaged offset is not taken; the zone is then UTC.
    EXPECT_EQ(Orvel::TimeZoneRulesFromTzif(MakeTzif('\0', INT32_MIN, "")), TimeZoneRules{});
    EXPECT_FALSE(Orvel::TimeZoneRulesFromTzif(std::vector<std::uint8_t>{'T', 'Z'}));
    EXPECT_FALSE(Orvel::TimeZoneRulesFromTzif(std::vector<std::uint8_t>(60, 'x')));
    // Every truncation of valid data is handled without reading past its end.
    const auto full = MakeTzif('3', 7200, "EET-2EEST,M3.5.0/3,M10.5.0/4");
    for (std::size_t n = 0; n < full.size(); ++n) {
        (void)Orvel::TimeZoneRulesFromTzif(std::span(full.data(), n));
    }
}

TEST(TzifData, RealZoneFiles) {
    const auto berlin = Orvel::TimeZoneRulesFromTzif([] {
        std::vector<std::uint8_t> data;
        if (FILE* f = std::fopen("/usr/share/zoneinfo/Europe/Berlin", "rb")) {
            int c = 0;
            while ((c = std::fgetc(f)) != EOF) {
                data.push_back(static_cast<std::uint8_t>(c));
            }
            std::fclose(f);
        }
        return data;
    }());
    if (!berlin) {
        GTEST_SKIP() << "no time-zone database";
    }
    EXPECT_EQ(*berlin, Posix("CET-1CEST,M3.5.0,M10.5.0/3"));
}

TEST(TransitionDates, NthAndLastWeekdayOfTheMonth) {
    const LocalTimeZone zone(Posix("CET-1CEST,M3.5.0,M10.5.0/3"));
    const auto y2025 = zone.DaylightChanges(2025);
    EXPECT_EQ(y2025.start, static_cast<std::int64_t>(At(2025, 3, 30, 2, 0, kLocal).Ticks()));
    EXPECT_EQ(y2025.end, static_cast<std::int64_t>(At(2025, 10, 26, 3, 0, kLocal).Ticks()));
    EXPECT_EQ(y2025.delta, Orvel::TimeSpan::FromMinutes(60));
    const auto y2024 = zone.DaylightChanges(2024);
    EXPECT_EQ(y2024.start, static_cast<std::int64_t>(At(2024, 3, 31, 2, 0, kLocal).Ticks()));
    EXPECT_EQ(y2024.end, static_cast<std::int64_t>(At(2024, 10, 27, 3, 0, kLocal).Ticks()));

    // Second Sunday of March and first Sunday of November; 2026-03-01 is itself a Sunday.
    const LocalTimeZone us(Posix("EST5EDT,M3.2.0,M11.1.0"));
    EXPECT_EQ(us.DaylightChanges(2026).start,
              static_cast<std::int64_t>(At(2026, 3, 8, 2, 0, kLocal).Ticks()));
    EXPECT_EQ(us.DaylightChanges(2026).end,
              static_cast<std::int64_t>(At(2026, 11, 1, 2, 0, kLocal).Ticks()));
    // The last Saturday when the month ends on one (2025-05-31), and a fourth Thursday.
    const LocalTimeZone sat(Posix("AAA0BBB,M5.5.6/0,M11.4.4/0"));
    EXPECT_EQ(sat.DaylightChanges(2025).start,
              static_cast<std::int64_t>(At(2025, 5, 31, 0, 0, kLocal).Ticks()));
    EXPECT_EQ(sat.DaylightChanges(2025).end,
              static_cast<std::int64_t>(At(2025, 11, 27, 0, 0, kLocal).Ticks()));
    // Times beyond one day move to the next day; negative ones to the previous.
    const LocalTimeZone il(Posix("IST-2IDT,M3.4.4/26,M10.5.0"));
    EXPECT_EQ(il.DaylightChanges(2026).start,
              static_cast<std::int64_t>(At(2026, 3, 27, 2, 0, kLocal).Ticks()));
    const LocalTimeZone gl(Posix("<-02>2<-01>,M3.5.0/-1,M10.5.0/0"));
    EXPECT_EQ(gl.DaylightChanges(2026).start,
              static_cast<std::int64_t>(At(2026, 3, 28, 23, 0, kLocal).Ticks()));

    try {
        (void)zone.DaylightChanges(0);
        FAIL();
    } catch (const Orvel::ArgumentOutOfRangeException& e) {
        EXPECT_EQ(e.ParamName(), u"year");
        EXPECT_EQ(e.Message(),
                  u"Valid values are between 1 and 9999, inclusive.\r\nParameter Name: year");
    }
    EXPECT_THROW((void)zone.DaylightChanges(10000), Orvel::ArgumentOutOfRangeException);
}

TEST(Conversions, RepeatedAndSkippedHoursInTheNorth) {
    const LocalTimeZone zone(Posix("CET-1CEST,M3.5.0,M10.5.0/3"));
    // 27 Oct 2024: 03:00 CEST becomes 02:00 CET, so 02:00 to 03:00 local occurs twice.
    const DateTime first = At(2024, 10, 27, 0, 30, kUtc).ToLocalTime(zone);
    EXPECT_EQ(first, At(2024, 10, 27, 2, 30, kLocal));
    EXPECT_EQ(first.Kind(), DateTimeKind::LocalAmbiguousDst);
    const DateTime second = At(2024, 10, 27, 1, 30, kUtc).ToLocalTime(zone);
    EXPECT_EQ(second, At(2024, 10, 27, 2, 30, kLocal));
    EXPECT_EQ(second.Kind(), kLocal);
    EXPECT_EQ(At(2024, 10, 27, 1, 0, kUtc).ToLocalTime(zone).Kind(), kLocal);
    EXPECT_EQ(At(2024, 10, 26, 23, 59, kUtc).ToLocalTime(zone).Kind(), kLocal);
    // The repeated local hour is read as its first pass, still in daylight time.
    EXPECT_EQ(At(2024, 10, 27, 2, 30, kLocal).ToUniversalTime(zone), At(2024, 10, 27, 0, 30, kUtc));
    EXPECT_EQ(At(2024, 10, 27, 3, 0, kLocal).ToUniversalTime(zone), At(2024, 10, 27, 2, 0, kUtc));
    EXPECT_EQ(first.ToUniversalTime(zone).Kind(), kUtc);
    // 31 Mar 2024: 02:00 CET becomes 03:00 CEST; a skipped time is read as standard time.
    EXPECT_EQ(At(2024, 3, 31, 2, 30, kLocal).ToUniversalTime(zone), At(2024, 3, 31, 1, 30, kUtc));
    EXPECT_EQ(At(2024, 3, 31, 3, 0, kLocal).ToUniversalTime(zone), At(2024, 3, 31, 1, 0, kUtc));
    EXPECT_EQ(At(2024, 3, 31, 0, 59, kUtc).ToLocalTime(zone), At(2024, 3, 31, 1, 59, kLocal));
    EXPECT_EQ(At(2024, 3, 31, 1, 0, kUtc).ToLocalTime(zone), At(2024, 3, 31, 3, 0, kLocal));
}

TEST(Conversions, SouthernAndNegativeRules) {
    const LocalTimeZone sydney(Posix("AEST-10AEDT,M10.1.0,M4.1.0/3"));
    EXPECT_EQ(sydney.OffsetOfUtc(At(2025, 1, 15, 0, 0, kUtc)).offset,
              Orvel::TimeSpan::FromMinutes(660));
    EXPECT_EQ(sydney.OffsetOfUtc(At(2025, 7, 15, 0, 0, kUtc)).offset,
              Orvel::TimeSpan::FromMinutes(600));
    EXPECT_EQ(sydney.OffsetOfLocalTime(At(2025, 12, 31, 23, 0, kLocal)),
              Orvel::TimeSpan::FromMinutes(660));
    // 6 Apr 2025: 03:00 AEDT becomes 02:00 AEST (15:00 UTC the day before).
    EXPECT_TRUE(sydney.OffsetOfUtc(At(2025, 4, 5, 15, 30, kUtc)).ambiguous);
    EXPECT_FALSE(sydney.OffsetOfUtc(At(2025, 4, 5, 16, 30, kUtc)).ambiguous);

    const LocalTimeZone dublin(Posix("IST-1GMT0,M10.5.0,M3.5.0/1"));
    EXPECT_EQ(dublin.OffsetOfUtc(At(2025, 1, 15, 12, 0, kUtc)).offset, Orvel::TimeSpan::Zero());
    EXPECT_EQ(dublin.OffsetOfUtc(At(2025, 7, 15, 12, 0, kUtc)).offset,
              Orvel::TimeSpan::FromMinutes(60));
    // 26 Oct 2025: 02:00 IST becomes 01:00 GMT at 01:00 UTC; the winter side is flagged.
    EXPECT_FALSE(dublin.OffsetOfUtc(At(2025, 10, 26, 0, 30, kUtc)).ambiguous);
    EXPECT_TRUE(dublin.OffsetOfUtc(At(2025, 10, 26, 1, 30, kUtc)).ambiguous);
    EXPECT_FALSE(dublin.OffsetOfUtc(At(2025, 10, 26, 2, 0, kUtc)).ambiguous);
    // The repeated hour is read as its first pass, here the (summer) standard time.
    EXPECT_EQ(At(2025, 10, 26, 1, 30, kLocal).ToUniversalTime(dublin),
              At(2025, 10, 26, 0, 30, kUtc));
    // The flagged winter pass converts back to its own instant.
    const DateTime winterPass = At(2025, 10, 26, 1, 30, kUtc).ToLocalTime(dublin);
    ASSERT_EQ(winterPass.Kind(), DateTimeKind::LocalAmbiguousDst);
    EXPECT_EQ(winterPass.ToUniversalTime(dublin), At(2025, 10, 26, 1, 30, kUtc));
    // Moved out of the repeated hour, the flag no longer changes the reading.
    EXPECT_EQ(winterPass.AddDays(-1).ToUniversalTime(dublin), At(2025, 10, 25, 0, 30, kUtc));
    // 30 Mar 2025: 01:00 GMT becomes 02:00 IST; the skipped hour is read as winter time.
    EXPECT_EQ(At(2025, 3, 30, 1, 30, kLocal).ToUniversalTime(dublin), At(2025, 3, 30, 1, 30, kUtc));
    EXPECT_EQ(At(2025, 3, 30, 2, 0, kLocal).ToUniversalTime(dublin), At(2025, 3, 30, 1, 0, kUtc));
}

TEST(Conversions, KindsAndClamping) {
    const LocalTimeZone ny(Posix("EST5EDT,M3.2.0,M11.1.0"));
    const DateTime local = At(2024, 1, 1, 12, 0, kLocal);
    EXPECT_EQ(local.ToLocalTime(ny).Ticks(), local.Ticks());
    EXPECT_EQ(local.ToLocalTime(ny).Kind(), kLocal);
    const DateTime utc = At(2024, 1, 1, 12, 0, kUtc);
    EXPECT_EQ(utc.ToUniversalTime(ny).Ticks(), utc.Ticks());
    // An ambiguous local value is local already and is not shifted again.
    const DateTime ambiguous = At(2024, 11, 3, 5, 30, kUtc).ToLocalTime(ny);
    ASSERT_EQ(ambiguous.Kind(), DateTimeKind::LocalAmbiguousDst);
    EXPECT_EQ(ambiguous.ToLocalTime(ny).Ticks(), ambiguous.Ticks());
    // Unspecified values are local for ToUniversalTime and UTC for ToLocalTime.
    const DateTime plain = At(2024, 1, 1, 12, 0, DateTimeKind::Unspecified);
    EXPECT_EQ(plain.ToUniversalTime(ny), At(2024, 1, 1, 17, 0, kUtc));
    EXPECT_EQ(plain.ToLocalTime(ny), At(2024, 1, 1, 7, 0, kUtc));
    // Results beyond either end are clamped to it.
    EXPECT_EQ(DateTime(0, kUtc).ToLocalTime(ny).Ticks(), 0u);
    EXPECT_EQ(DateTime(0, kUtc).ToLocalTime(ny).Kind(), kLocal);
    const DateTime last(DateTime::kMaxTicks, kLocal);
    EXPECT_EQ(last.ToUniversalTime(ny).Ticks(), DateTime::kMaxTicks);
    EXPECT_EQ(last.ToUniversalTime(ny).Kind(), kUtc);
    const LocalTimeZone tokyo(Posix("JST-9"));
    EXPECT_EQ(DateTime(DateTime::kMaxTicks, kUtc).ToLocalTime(tokyo).Ticks(), DateTime::kMaxTicks);
    EXPECT_EQ(DateTime(0, kLocal).ToUniversalTime(tokyo).Ticks(), 0u);
}

TEST(Conversions, ZonesWithoutDaylightTime) {
    TimeZoneRules rules = Posix("CET-1CEST,M3.5.0,M10.5.0/3");
    rules.hasDaylightInformation = false;  // the platform reports no daylight information
    const LocalTimeZone off(rules);
    EXPECT_FALSE(off.HasDaylightSavingTime());
    EXPECT_EQ(off.OffsetOfUtc(At(2024, 7, 1, 0, 0, kUtc)).offset, Orvel::TimeSpan::FromMinutes(60));
    rules.hasDaylightInformation = true;
    rules.daylightBias = 0;
    EXPECT_FALSE(LocalTimeZone(rules).HasDaylightSavingTime());
    // Rules that name no real date are treated as no daylight saving time.
    rules.daylightBias = -60;
    rules.daylightDate.month = 13;
    EXPECT_FALSE(LocalTimeZone(rules).HasDaylightSavingTime());
    const LocalTimeZone kathmandu(Posix("<+0545>-5:45"));
    EXPECT_EQ(At(2024, 7, 1, 0, 0, kUtc).ToLocalTime(kathmandu), At(2024, 7, 1, 5, 45, kLocal));
}

// Sets TZ (or unsets it for nullptr) for the life of the object.
class ScopedTz {
  public:
    explicit ScopedTz(const char* value) {
        if (const char* old = std::getenv("TZ")) {
            saved_ = old;
        }
        value ? setenv("TZ", value, 1) : unsetenv("TZ");
    }
    ~ScopedTz() { saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ"); }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

  private:
    std::optional<std::string> saved_;
};

TEST(PlatformZone, SnapshotIsThePlatformZoneAndDrivesTheDefaultConversions) {
    const LocalTimeZone& current = LocalTimeZone::Current();
    EXPECT_EQ(&current, &LocalTimeZone::Current());
    EXPECT_EQ(current.Rules(), Orvel::LoadPlatformTimeZoneRules());
    const DateTime utc = At(2025, 7, 1, 12, 0, kUtc);
    EXPECT_EQ(utc.ToLocalTime(), utc.ToLocalTime(current));
    EXPECT_EQ(utc.ToLocalTime().ToUniversalTime(),
              utc.ToLocalTime(current).ToUniversalTime(current));
}

TEST(PlatformZone, ReadsTzNamesPathsAndRules) {
    {
        ScopedTz tz("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(Orvel::LoadPlatformTimeZoneRules(), Posix("CET-1CEST,M3.5.0,M10.5.0/3"));
    }
    {
        ScopedTz tz("");
        EXPECT_EQ(Orvel::LoadPlatformTimeZoneRules(), TimeZoneRules{});
    }
    {
        ScopedTz tz("No/Such_Zone");
        EXPECT_EQ(Orvel::LoadPlatformTimeZoneRules(), TimeZoneRules{});
    }
    {
        ScopedTz tz(nullptr);
        (void)Orvel::LoadPlatformTimeZoneRules();  // /etc/localtime, or UTC without one
    }
    if (std::FILE* f = std::fopen("/usr/share/zoneinfo/Europe/Dublin", "rb")) {
        std::fclose(f);
        ScopedTz named(":Europe/Dublin");
        EXPECT_EQ(Orvel::LoadPlatformTimeZoneRules(), Posix("IST-1GMT0,M10.5.0,M3.5.0/1"));
        ScopedTz path("/usr/share/zoneinfo/Asia/Kolkata");
        EXPECT_EQ(Orvel::LoadPlatformTimeZoneRules(), Posix("IST-5:30"));
    }
}

}  // namespace
