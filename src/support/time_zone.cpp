// UTC offsets of one zone from its yearly rule pair, and the process's snapshot.
#include "carvix/support/time_zone.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/string_table.h"
#include "carvix/support/text.h"

namespace Orvel {
namespace {

bool ValidRule(const TransitionRule& r) noexcept {
    return r.month >= 1 && r.month <= 12 && r.dayOfWeek >= 0 && r.dayOfWeek <= 6 &&
           r.occurrence >= 1 && r.occurrence <= 5 && r.hour >= -167 && r.hour <= 167 &&
           r.minute > -60 && r.minute < 60 && r.second > -60 && r.second < 60 &&
           r.millisecond > -1000 && r.millisecond < 1000;
}

// Local ticks at which the rule fires in the year (signed: the time of day may be negative).
std::int64_t RuleTicks(int year, const TransitionRule& r) {
    int day = 0;
    if (r.occurrence <= 4) {
        const int firstWeekday = DateTime(year, r.month, 1, DateTimeKind::Unspecified).DayOfWeek();
        day = 1 + (r.dayOfWeek - firstWeekday + 7) % 7 + 7 * (r.occurrence - 1);
    } else {
        const int last = DateTime::DaysInMonth(year, r.month);
        const int lastWeekday =
            DateTime(year, r.month, last, DateTimeKind::Unspecified).DayOfWeek();
        day = last - (lastWeekday - r.dayOfWeek + 7) % 7;
    }
    const auto midnight =
        static_cast<std::int64_t>(DateTime(year, r.month, day, DateTimeKind::Unspecified).Ticks());
    return midnight + ((std::int64_t{r.hour} * 60 + r.minute) * 60 + r.second) * kTicksPerSecond +
           std::int64_t{r.millisecond} * kTicksPerMillisecond;
}

TimeZoneRules Sanitised(TimeZoneRules rules) {
    if (rules.hasDaylightInformation &&
        (!ValidRule(rules.daylightDate) || !ValidRule(rules.standardDate))) {
        rules.hasDaylightInformation = false;
    }
    return rules;
}

}  // namespace

DateTime LocalTimeZone::Clamped(std::int64_t ticks, DateTimeKind kind) noexcept {
    if (ticks < 0) {
        ticks = 0;
    } else if (ticks > static_cast<std::int64_t>(DateTime::kMaxTicks)) {
        ticks = static_cast<std::int64_t>(DateTime::kMaxTicks);
    }
    return DateTime(static_cast<std::uint64_t>(ticks), kind, DateTime::Raw{});
}

LocalTimeZone::LocalTimeZone(const TimeZoneRules& rules) : rules_(Sanitised(rules)) {}

const LocalTimeZone& LocalTimeZone::Current() {
    static const LocalTimeZone zone(LoadPlatformTimeZoneRules());
    return zone;
}

bool LocalTimeZone::HasDaylightSavingTime() const noexcept {
    return rules_.hasDaylightInformation && rules_.daylightBias != 0;
}

TimeSpan LocalTimeZone::StandardOffset() const noexcept {
    return TimeSpan::FromMinutes(-rules_.bias);
}

LocalTimeZone::DaylightTime LocalTimeZone::DaylightChanges(int year) const {
    std::lock_guard guard(lock_);
    return DaylightChangesUnlocked(year);
}

LocalTimeZone::DaylightTime LocalTimeZone::DaylightChangesUnlocked(int year) const {
    if (year < 1 || year > 9999) {
        throw ArgumentOutOfRangeException(u"year",
                                          Format(Utf16ToUtf8(LoadString(20491)).c_str(), 1, 9999));
    }
    DaylightTime result;
    if (!HasDaylightSavingTime()) {
        return result;
    }
    result.start = RuleTicks(year, rules_.daylightDate);
    result.end = RuleTicks(year, rules_.standardDate);
    result.delta = TimeSpan::FromMinutes(-rules_.daylightBias);
    return result;
}

TimeSpan LocalTimeZone::OffsetOfLocalTime(DateTime local) const {
    std::lock_guard guard(lock_);
    return OffsetOfLocalUnlocked(local);
}

TimeSpan LocalTimeZone::OffsetOfLocalUnlocked(DateTime local) const {
    const TimeSpan standard = StandardOffset();
    if (!HasDaylightSavingTime()) {
        return standard;
    }
    const DaylightTime dst = DaylightChangesUnlocked(local.Year());
    const std::int64_t delta = dst.delta.Ticks();
    // Local times in the skipped hour count as standard time when the clock goes forward, and
    // those in the repeated hour as standard time too.
    const std::int64_t first = delta > 0 ? dst.start + delta : dst.start;
    const std::int64_t last = delta > 0 ? dst.end : dst.end - delta;
    const auto t = static_cast<std::int64_t>(local.Ticks());
    bool inDst = first > last ? (t >= first || t < last) : (t >= first && t < last);
    // A value marked as the daylight pass of the repeated hour is read as daylight time, so
    // that it converts back to the instant it came from whatever the sign of the delta.
    if (local.Kind() == DateTimeKind::LocalAmbiguousDst) {
        const std::int64_t from = delta > 0 ? dst.end - delta : dst.start + delta;
        const std::int64_t to = delta > 0 ? dst.end : dst.start;
        inDst = inDst || (t >= from && t < to);
    }
    return inDst ? standard.Add(dst.delta) : standard;
}

LocalTimeZone::UtcOffset LocalTimeZone::OffsetOfUtc(DateTime utc) const {
    std::lock_guard guard(lock_);
    return OffsetOfUtcUnlocked(utc);
}

LocalTimeZone::UtcOffset LocalTimeZone::OffsetOfUtcUnlocked(DateTime utc) const {
    UtcOffset result{StandardOffset(), false};
    if (!HasDaylightSavingTime()) {
        return result;
    }
    const DaylightTime dst = DaylightChangesUnlocked(utc.Year());
    const std::int64_t delta = dst.delta.Ticks();
    const std::int64_t standard = result.offset.Ticks();
    const std::int64_t startUtc = dst.start - standard;
    const std::int64_t endUtc = dst.end - standard - delta;
    const auto t = static_cast<std::int64_t>(utc.Ticks());
    const bool inDst =
        startUtc > endUtc ? (t >= startUtc || t < endUtc) : (t >= startUtc && t < endUtc);
    if (inDst) {
        result.offset = result.offset.Add(dst.delta);
        result.ambiguous = delta > 0 ? (t >= endUtc - delta && t < endUtc)
                                     : (t >= startUtc && t < startUtc - delta);
    }
    return result;
}

DateTime LocalTimeZone::LocalToUtc(DateTime local) const {
    std::lock_guard guard(lock_);
    const TimeSpan offset = OffsetOfLocalUnlocked(local);
    return Clamped(static_cast<std::int64_t>(local.Ticks()) - offset.Ticks(), DateTimeKind::Utc);
}

DateTime LocalTimeZone::UtcToLocal(DateTime utc) const {
    std::lock_guard guard(lock_);
    const UtcOffset offset = OffsetOfUtcUnlocked(utc);
    const std::int64_t local = static_cast<std::int64_t>(utc.Ticks()) + offset.offset.Ticks();
    if (local < 0 || local > static_cast<std::int64_t>(DateTime::kMaxTicks)) {
        return Clamped(local, DateTimeKind::Local);
    }
    return Clamped(local, offset.ambiguous ? DateTimeKind::LocalAmbiguousDst : DateTimeKind::Local);
}

namespace {
// The snapshot is taken while the module loads, before any caller can convert a time.
[[maybe_unused]] const LocalTimeZone& gSnapshotAtLoad = LocalTimeZone::Current();
}  // namespace

}  // namespace Orvel
