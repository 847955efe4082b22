// Compares the zone conversions with the C library's own localtime_r and mktime under the
// same TZ, for real zones of the system's time-zone database, in years their final rule
// governs.
#include "carvix/support/datetime.h"
#include "carvix/support/time_zone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

using Orvel::DateTime;
using Orvel::DateTimeKind;

constexpr std::int64_t kUnixEpochTicks = 621'355'968'000'000'000;

struct Zone {
    const char* name;
    const char* why;
};

constexpr Zone kZones[] = {
    {"Europe/Berlin", "northern daylight saving time"},
    {"America/New_York", "northern, second and first Sunday rules"},
    {"Europe/London", "northern, daylight time starting at 01:00 standard time"},
    {"Australia/Sydney", "southern daylight saving time"},
    {"Pacific/Auckland", "southern, last and first Sunday rules"},
    {"America/Santiago", "southern, transitions at 24:00"},
    {"Asia/Tokyo", "no daylight saving time"},
    {"Asia/Kolkata", "30-minute offset, no daylight saving time"},
    {"Asia/Kathmandu", "45-minute offset"},
    {"America/St_Johns", "-03:30 with daylight saving time"},
    {"Australia/Adelaide", "+09:30, southern daylight saving time"},
    {"Pacific/Chatham", "+12:45 with daylight saving time at 02:45"},
    {"Australia/Lord_Howe", "a 30-minute daylight saving delta"},
    {"Europe/Dublin", "negative daylight saving time"},
    {"Asia/Jerusalem", "a transition 26 hours after the named day"},
    {"America/Nuuk", "a transition at -01:00"},
    {"Africa/Cairo", "a transition at 24:00 on the last Thursday"},
};

std::optional<std::vector<std::uint8_t>> ReadZoneFile(const std::string& name) {
    std::FILE* f = std::fopen(("/usr/share/zoneinfo/" + name).c_str(), "rb");
    if (f == nullptr) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data;
    int c = 0;
    while ((c = std::fgetc(f)) != EOF) {
        data.push_back(static_cast<std::uint8_t>(c));
    }
    std::fclose(f);
    return data;
}

// The C library's view of the same zone, selected through TZ for the life of the object.
class CLibraryZone {
  public:
    explicit CLibraryZone(const char* name) {
        if (const char* old = std::getenv("TZ")) {
            saved_ = old;
        }
        setenv("TZ", name, 1);
        tzset();
    }
    ~CLibraryZone() {
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    CLibraryZone(const CLibraryZone&) = delete;
    CLibraryZone& operator=(const CLibraryZone&) = delete;

    std::tm Local(std::time_t t) const {
        std::tm tm{};
        localtime_r(&t, &tm);
        return tm;
    }
    // Local wall-clock ticks of an instant.
    std::int64_t WallTicks(std::time_t t) const {
        const std::tm tm = Local(t);
        return static_cast<std::int64_t>(DateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                                                  tm.tm_hour, tm.tm_min, tm.tm_sec, 0,
                                                  DateTimeKind::Local)
                                             .Ticks());
    }

  private:
    std::optional<std::string> saved_;
};

DateTime UtcOf(std::time_t t) {
    return DateTime(static_cast<std::uint64_t>(kUnixEpochTicks + t * Orvel::kTicksPerSecond),
                    DateTimeKind::Utc);
}

// Checks one instant both ways and returns false on the first disagreement.
void CheckInstant(const Orvel::LocalTimeZone& zone, const CLibraryZone& clib, std::time_t t,
                  std::int64_t dstDelta, const char* name) {
    const std::int64_t wall = clib.WallTicks(t);
    const DateTime local = UtcOf(t).ToLocalTime(zone);
    ASSERT_EQ(static_cast<std::int64_t>(local.Ticks()), wall) << name << " at " << t;

    // Does the same wall time occur at another instant (the repeated hour)?
    std::optional<std::time_t> twin;
    if (dstDelta != 0) {
        for (std::time_t other : {t - dstDelta, t + dstDelta}) {
            if (clib.WallTicks(other) == wall) {
                twin = other;
            }
        }
    }
    const bool daylight = clib.Local(t).tm_isdst > 0;
    EXPECT_EQ(local.Kind() == DateTimeKind::LocalAmbiguousDst, twin.has_value() && daylight)
        << name << " at " << t;

    // A value flagged as the daylight pass of the repeated hour converts back to its instant.
    if (local.Kind() == DateTimeKind::LocalAmbiguousDst) {
        ASSERT_EQ(local.ToUniversalTime(zone), UtcOf(t)) << name << " at " << t;
    }
    const DateTime back = DateTime(local.Ticks(), DateTimeKind::Local).ToUniversalTime(zone);
    if (!twin) {
        std::tm tm = clib.Local(t);
        tm.tm_isdst = -1;
        ASSERT_EQ(mktime(&tm), t) << name;
        ASSERT_EQ(back, UtcOf(t)) << name << " at " << t;
    } else {
        // A repeated wall time is read as the earlier of its two instants.
        ASSERT_EQ(back, UtcOf(std::min(t, *twin))) << name << " at " << t;
    }
}

TEST(ZoneOracle, AgreesWithTheCLibrary) {
    int zonesChecked = 0;
    for (const Zone& z : kZones) {
        SCOPED_TRACE(std::string(z.name) + ": " + z.why);
        const auto data = ReadZoneFile(z.name);
        if (!data) {
            ADD_FAILURE() << "zone file missing: " << z.name;
            continue;
        }
        const auto rules = Orvel::TimeZoneRulesFromTzif(*data);
        ASSERT_TRUE(rules.has_value());
        const Orvel::LocalTimeZone zone(*rules);
        const std::int64_t delta = -std::int64_t{rules->daylightBias} * 60;
        const CLibraryZone clib(z.name);

        for (int year : {2026, 2027, 2028, 2031, 2036, 2037, 2040, 2052, 2099}) {
            std::tm start{};
            start.tm_year = year - 1900;
            start.tm_mday = 1;
            const std::time_t from = timegm(&start);
            start.tm_year += 1;
            const std::time_t to = timegm(&start);
            constexpr std::time_t kStep = 97 * 60 + 13;
            std::time_t previous = from;
            for (std::time_t t = from; t < to; t += kStep) {
                CheckInstant(zone, clib, t, delta, z.name);
                if (HasFatalFailure()) {
                    return;
                }
                // Around each change of offset, find the exact second and check its neighbours.
                if (clib.WallTicks(t) - clib.WallTicks(previous) !=
                    (t - previous) * Orvel::kTicksPerSecond) {
                    std::time_t lo = previous;
                    std::time_t hi = t;
                    while (hi - lo > 1) {
                        const std::time_t mid = lo + (hi - lo) / 2;
                        const bool changedByMid = clib.WallTicks(mid) - clib.WallTicks(lo) !=
                                                  (mid - lo) * Orvel::kTicksPerSecond;
                        (changedByMid ? hi : lo) = mid;
                    }
                    for (std::time_t d : {-3600, -1800, -61, -1, 0, 1, 59, 1800, 3599, 3600}) {
                        CheckInstant(zone, clib, hi + d, delta, z.name);
                    }
                }
                previous = t;
            }
        }
        ++zonesChecked;
    }
    EXPECT_EQ(zonesChecked, static_cast<int>(std::size(kZones)));
}

}  // namespace
