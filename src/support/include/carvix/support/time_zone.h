// The process's time-zone snapshot and the yearly daylight-saving rules it is made of.
//
// The snapshot is taken once, when the module loads, from the platform's time-zone
// information: the POSIX rule at the end of the zone's TZif data ($TZ when set, otherwise
// /etc/localtime). It is never refreshed. Every conversion reads it under its lock.
#pragma once

#include "carvix/support/datetime.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

namespace Orvel {

/// A yearly transition: the occurrence-th dayOfWeek (0 Sunday) of month, occurrence 5 meaning
/// the last one, at the given time of day in the local time then in force. The hour may lie
/// outside 0 to 23 (from -167 to 167): the time is then an offset from that day's midnight.
struct TransitionRule {
    int month = 0;
    int dayOfWeek = 0;
    int occurrence = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    friend bool operator==(const TransitionRule&, const TransitionRule&) = default;
};

/// A zone reduced to one standard offset and one yearly pair of rules, in the Windows sense:
/// UTC = local + bias minutes, and + daylightBias more while daylight saving time is in force.
struct TimeZoneRules {
    /// False when the zone has no daylight-saving information at all.
    bool hasDaylightInformation = false;
    std::int32_t bias = 0;
    /// The end of daylight saving time, in local daylight time.
    TransitionRule standardDate;
    /// The start of daylight saving time, in local standard time.
    TransitionRule daylightDate;
    std::int32_t daylightBias = 0;

    friend bool operator==(const TimeZoneRules&, const TimeZoneRules&) = default;
};

/// Parses a POSIX TZ rule such as "CET-1CEST,M3.5.0,M10.5.0/3". Only the "Mm.w.d" form of
/// transition dates is accepted; nullopt for anything else.
std::optional<TimeZoneRules> ParsePosixTimeZone(std::string_view rule);

/// The rules of TZif data: its trailing POSIX rule, or for data without one the fixed offset of
/// its last local time type. nullopt when the data is not TZif.
std::optional<TimeZoneRules> TimeZoneRulesFromTzif(std::span<const std::uint8_t> data);

/// The platform's zone: $TZ (a zone name under $TZDIR or /usr/share/zoneinfo, an absolute
/// path, or a POSIX rule), else /etc/localtime; UTC when nothing can be read.
TimeZoneRules LoadPlatformTimeZoneRules();

/// One zone's UTC offsets. Conversions through it are serialised by its own lock.
class LocalTimeZone {
  public:
    explicit LocalTimeZone(const TimeZoneRules& rules);
    LocalTimeZone(const LocalTimeZone&) = delete;
    LocalTimeZone& operator=(const LocalTimeZone&) = delete;

    /// The snapshot of the platform's zone taken at load.
    static const LocalTimeZone& Current();

    const TimeZoneRules& Rules() const noexcept { return rules_; }
    bool HasDaylightSavingTime() const noexcept;
    TimeSpan StandardOffset() const noexcept;

    struct DaylightTime {
        /// Local ticks of the start and end transitions; may lie outside the year by a few days
        /// for rules whose time exceeds one day.
        std::int64_t start = 0;
        std::int64_t end = 0;
        TimeSpan delta;
    };
    /// The year's daylight-saving period; parameter "year" (string 20491) outside 1 to 9999.
    DaylightTime DaylightChanges(int year) const;

    /// The offset (local - UTC) that applies to a local wall-clock time.
    TimeSpan OffsetOfLocalTime(DateTime local) const;

    struct UtcOffset {
        TimeSpan offset;
        /// The instant shows a local time that occurs twice (the repeated hour).
        bool ambiguous = false;
    };
    UtcOffset OffsetOfUtc(DateTime utc) const;

    /// ticks - offset of that local time; kind Utc, clamped to the range.
    DateTime LocalToUtc(DateTime local) const;
    /// ticks + offset of that instant; kind Local or LocalAmbiguousDst, clamped to the range.
    DateTime UtcToLocal(DateTime utc) const;

  private:
    DaylightTime DaylightChangesUnlocked(int year) const;
    TimeSpan OffsetOfLocalUnlocked(DateTime local) const;
    UtcOffset OffsetOfUtcUnlocked(DateTime utc) const;
    static DateTime Clamped(std::int64_t ticks, DateTimeKind kind) noexcept;

    TimeZoneRules rules_;
    mutable std::mutex lock_;
};

}  // namespace Orvel
