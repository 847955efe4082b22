// Date and time values: DateTime (100-nanosecond ticks since 0001-01-01 plus a kind) and
// TimeSpan (a signed tick count), with the conversions between UTC and local time that go
// through the process's time-zone snapshot (time_zone.h).
//
// DateTime and TimeSpan are plain values; they may be used from any thread.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace Orvel {

class LocalTimeZone;

enum class DateTimeKind : std::uint8_t {
    Unspecified = 0,
    Utc = 1,
    Local = 2,
    LocalAmbiguousDst = 3
};

/// 100-nanosecond intervals since 1601-01-01 00:00 UTC, split as the Windows structure is.
struct FileTime {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;

    constexpr std::uint64_t Value() const noexcept {
        return (std::uint64_t{dwHighDateTime} << 32) | dwLowDateTime;
    }
    static constexpr FileTime FromValue(std::uint64_t v) noexcept {
        return FileTime{static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32)};
    }
};

/// A calendar time with the Windows field meanings (month 1 to 12, day of week 0 = Sunday).
struct SystemTime {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

inline constexpr std::int64_t kTicksPerMillisecond = 10'000;
inline constexpr std::int64_t kTicksPerSecond = 10'000'000;
inline constexpr std::int64_t kTicksPerMinute = 600'000'000;
inline constexpr std::int64_t kTicksPerHour = 36'000'000'000;
inline constexpr std::int64_t kTicksPerDay = 864'000'000'000;

/// A signed duration in ticks.
class TimeSpan {
  public:
    constexpr TimeSpan() noexcept = default;
    constexpr explicit TimeSpan(std::int64_t ticks) noexcept : ticks_(ticks) {}

    static constexpr TimeSpan Zero() noexcept { return TimeSpan(0); }
    static constexpr TimeSpan MaxValue() noexcept { return TimeSpan(INT64_MAX); }
    static constexpr TimeSpan MinValue() noexcept { return TimeSpan(INT64_MIN); }
    static constexpr TimeSpan FromMinutes(std::int32_t minutes) noexcept {
        return TimeSpan(minutes * kTicksPerMinute);
    }

    constexpr std::int64_t Ticks() const noexcept { return ticks_; }

    /// The sum; OverflowException (string 20499) when it leaves the TimeSpan range.
    TimeSpan Add(TimeSpan other) const;
    /// The negated duration; OverflowException (string 20499) for the smallest value.
    TimeSpan Negate() const;

    friend constexpr bool operator==(TimeSpan, TimeSpan) noexcept = default;
    friend constexpr auto operator<=>(TimeSpan, TimeSpan) noexcept = default;

  private:
    std::int64_t ticks_ = 0;
};

/// A date and time of the proleptic Gregorian calendar from 0001-01-01 to 9999-12-31
/// 23:59:59.9999999, stored as 62 bits of ticks and 2 bits of kind in one word. Equality and
/// ordering compare the ticks only.
///
/// Argument errors raise Orvel::ArgumentOutOfRangeException or Orvel::ArgumentException
/// with the parameter name and message of the failing check (exceptions.h).
class DateTime {
  public:
    static constexpr std::uint64_t kMaxTicks = 3'155'378'975'999'999'999ull;
    /// 1601-01-01 00:00, the origin of FILETIME.
    static constexpr std::uint64_t kFileTimeEpochTicks = 504'911'232'000'000'000ull;

    /// 0 ticks, kind Unspecified.
    constexpr DateTime() noexcept = default;
    explicit DateTime(std::uint64_t ticks);
    /// kind must be Unspecified, Utc or Local.
    DateTime(std::uint64_t ticks, DateTimeKind kind);
    DateTime(int year, int month, int day, DateTimeKind kind);
    /// millisecond may be 1000 (the next second).
    DateTime(int year, int month, int day, int hour, int minute, int second, int millisecond,
             DateTimeKind kind);
    /// A FILETIME taken as UTC; parameter "ft" when it lies beyond 9999.
    explicit DateTime(const FileTime& ft);
    /// A UTC calendar time converted to local time in the process's time zone.
    explicit DateTime(const SystemTime& st);
    DateTime(const SystemTime& st, const LocalTimeZone& zone);

    static constexpr DateTime MinValue() noexcept {
        return DateTime(0, DateTimeKind::Unspecified, Raw{});
    }
    static constexpr DateTime MaxValue() noexcept {
        return DateTime(kMaxTicks, DateTimeKind::Unspecified, Raw{});
    }

    static bool IsLeapYear(int year);
    static int DaysInMonth(int year, int month);

    int Year() const noexcept;
    int Month() const noexcept;
    int Day() const noexcept;
    /// 0 Sunday to 6 Saturday.
    int DayOfWeek() const noexcept;
    int Hour() const noexcept;
    int Minute() const noexcept;
    int Second() const noexcept;
    int Millisecond() const noexcept;
    constexpr std::uint64_t Ticks() const noexcept { return data_ & kTicksMask; }
    constexpr DateTimeKind Kind() const noexcept { return static_cast<DateTimeKind>(data_ >> 62); }
    /// The same value at 00:00 of its day, same kind.
    DateTime Date() const noexcept;

    /// Local values are converted to UTC first; Utc and Unspecified ticks are taken as UTC.
    FileTime ToFileTime() const;
    FileTime ToFileTime(const LocalTimeZone& zone) const;
    /// ToFileTime as a UTC calendar time.
    SystemTime ToSystemTime() const;
    SystemTime ToSystemTime(const LocalTimeZone& zone) const;
    /// Utc values unchanged; others are taken as local time. Clamped to the range.
    DateTime ToUniversalTime() const;
    DateTime ToUniversalTime(const LocalTimeZone& zone) const;
    /// Local values unchanged; others are taken as UTC. Clamped to the range.
    DateTime ToLocalTime() const;
    DateTime ToLocalTime(const LocalTimeZone& zone) const;

    /// Adds days rounded to the millisecond; same kind.
    DateTime AddDays(double value) const;
    DateTime AddTicks(std::int64_t value) const;
    DateTime operator+(TimeSpan span) const;
    DateTime operator-(TimeSpan span) const;
    TimeSpan operator-(DateTime other) const noexcept;

    /// The value's own fields formatted with wcsftime semantics (no time-zone conversion),
    /// at most 255 characters; empty when the format is empty or the result does not fit.
    std::u16string ToString(std::u16string_view format) const;

    friend constexpr bool operator==(DateTime a, DateTime b) noexcept {
        return a.Ticks() == b.Ticks();
    }
    friend constexpr std::strong_ordering operator<=>(DateTime a, DateTime b) noexcept {
        return a.Ticks() <=> b.Ticks();
    }

  private:
    friend class LocalTimeZone;
    struct Raw {};
    static constexpr std::uint64_t kTicksMask = (std::uint64_t{1} << 62) - 1;
    constexpr DateTime(std::uint64_t ticks, DateTimeKind kind, Raw) noexcept
        : data_(ticks | (std::uint64_t{static_cast<std::uint8_t>(kind)} << 62)) {}

    std::uint64_t data_ = 0;
};

}  // namespace Orvel
