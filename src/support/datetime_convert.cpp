// DateTime conversions that involve FILETIME, SYSTEMTIME or the time zone.
#include "carvix/support/datetime.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/string_table.h"
#include "carvix/support/time_zone.h"

namespace Orvel {
namespace {

bool IsLocalKind(DateTimeKind kind) noexcept {
    return kind == DateTimeKind::Local || kind == DateTimeKind::LocalAmbiguousDst;
}

// The platform's SystemTimeToFileTime: refuses fields out of range and years before 1601.
bool SystemTimeToFileTime(const SystemTime& st, std::uint64_t& fileTime) {
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999) {
        return false;
    }
    // Days from 0001-01-01, computed without the DateTime range limit of 9999.
    static constexpr int kDaysToMonth[13] = {0,   31,  59,  90,  120, 151, 181,
                                             212, 243, 273, 304, 334, 365};
    const int year = st.wYear;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int monthDays =
        kDaysToMonth[st.wMonth] - kDaysToMonth[st.wMonth - 1] + (leap && st.wMonth == 2 ? 1 : 0);
    if (st.wDay > monthDays) {
        return false;
    }
    const std::uint64_t y = static_cast<std::uint64_t>(year) - 1;
    const std::uint64_t days = y * 365 + y / 4 - y / 100 + y / 400 + kDaysToMonth[st.wMonth - 1] +
                               (leap && st.wMonth > 2 ? 1 : 0) + st.wDay - 1;
    const std::uint64_t ticks =
        days * kTicksPerDay +
        static_cast<std::uint64_t>(((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) *
                                       kTicksPerSecond +
                                   st.wMilliseconds * kTicksPerMillisecond);
    fileTime = ticks - DateTime::kFileTimeEpochTicks;
    return true;
}

DateTime FromFileTimeUtc(std::uint64_t fileTime, const char16_t* paramName) {
    if (fileTime > DateTime::kMaxTicks - DateTime::kFileTimeEpochTicks) {
        throw ArgumentOutOfRangeException(paramName, LoadString(20494));
    }
    return DateTime(fileTime + DateTime::kFileTimeEpochTicks, DateTimeKind::Utc);
}

DateTime FromSystemTime(const SystemTime& st, const LocalTimeZone& zone) {
    std::uint64_t fileTime = 0;
    if (!SystemTimeToFileTime(st, fileTime)) {
        fileTime = 0;
    }
    if (fileTime > DateTime::kMaxTicks - DateTime::kFileTimeEpochTicks) {
        throw ArgumentOutOfRangeException(u"st");
    }
    return zone.UtcToLocal(DateTime(fileTime + DateTime::kFileTimeEpochTicks, DateTimeKind::Utc));
}

}  // namespace

DateTime::DateTime(const FileTime& ft) : DateTime(FromFileTimeUtc(ft.Value(), u"ft")) {}

DateTime::DateTime(const SystemTime& st) : DateTime(st, LocalTimeZone::Current()) {}

DateTime::DateTime(const SystemTime& st, const LocalTimeZone& zone)
    : DateTime(FromSystemTime(st, zone)) {}

FileTime DateTime::ToFileTime() const {
    return ToFileTime(LocalTimeZone::Current());
}

FileTime DateTime::ToFileTime(const LocalTimeZone& zone) const {
    const DateTime utc = IsLocalKind(Kind()) ? zone.LocalToUtc(*this) : *this;
    if (utc.Ticks() < kFileTimeEpochTicks) {
        throw ArgumentOutOfRangeException(u"", LoadString(20494));
    }
    return FileTime::FromValue(utc.Ticks() - kFileTimeEpochTicks);
}

SystemTime DateTime::ToSystemTime() const {
    return ToSystemTime(LocalTimeZone::Current());
}

SystemTime DateTime::ToSystemTime(const LocalTimeZone& zone) const {
    const DateTime utc(ToFileTime(zone).Value() + kFileTimeEpochTicks, DateTimeKind::Utc);
    SystemTime st;
    st.wYear = static_cast<std::uint16_t>(utc.Year());
    st.wMonth = static_cast<std::uint16_t>(utc.Month());
    st.wDayOfWeek = static_cast<std::uint16_t>(utc.DayOfWeek());
    st.wDay = static_cast<std::uint16_t>(utc.Day());
    st.wHour = static_cast<std::uint16_t>(utc.Hour());
    st.wMinute = static_cast<std::uint16_t>(utc.Minute());
    st.wSecond = static_cast<std::uint16_t>(utc.Second());
    st.wMilliseconds = static_cast<std::uint16_t>(utc.Millisecond());
    return st;
}

DateTime DateTime::ToUniversalTime() const {
    return ToUniversalTime(LocalTimeZone::Current());
}

DateTime DateTime::ToUniversalTime(const LocalTimeZone& zone) const {
    if (Kind() == DateTimeKind::Utc) {
        return *this;
    }
    return zone.LocalToUtc(*this);
}

DateTime DateTime::ToLocalTime() const {
    return ToLocalTime(LocalTimeZone::Current());
}

DateTime DateTime::ToLocalTime(const LocalTimeZone& zone) const {
    // A value already in local time, in the repeated hour or not, is not shifted again.
    if (IsLocalKind(Kind())) {
        return *this;
    }
    return zone.UtcToLocal(*this);
}

}  // namespace Orvel
