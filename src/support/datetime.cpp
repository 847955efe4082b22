#include "carvix/support/datetime.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/string_table.h"
#include "carvix/support/text.h"

#include <cmath>
#include <ctime>
#include <cwchar>

namespace Orvel {
namespace {

constexpr int kDaysPer400Years = 146097;
constexpr int kDaysPer100Years = 36524;
constexpr int kDaysPer4Years = 1461;
constexpr int kDaysPerYear = 365;
constexpr int kDaysToMonth365[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr int kDaysToMonth366[13] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};
constexpr std::int64_t kMaxMillis = 315'537'897'599'999;

bool LeapYear(int year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

void CheckKind(DateTimeKind kind) {
    if (static_cast<std::uint8_t>(kind) > static_cast<std::uint8_t>(DateTimeKind::Local)) {
        throw ArgumentOutOfRangeException(u"kind");
    }
}

std::uint64_t CheckedTicks(std::uint64_t ticks) {
    if (ticks > DateTime::kMaxTicks) {
        throw ArgumentOutOfRangeException(u"ticks");
    }
    return ticks;
}

// Ticks of 00:00 on a checked calendar date.
std::uint64_t DateToTicks(int year, int month, int day) {
    if (year < 1 || year > 9999) {
        throw ArgumentOutOfRangeException(u"year");
    }
    if (month < 1 || month > 12) {
        throw ArgumentOutOfRangeException(u"month");
    }
    const int* days = LeapYear(year) ? kDaysToMonth366 : kDaysToMonth365;
    if (day < 1 || day > days[month] - days[month - 1]) {
        throw ArgumentOutOfRangeException(u"day");
    }
    const std::int64_t y = year - 1;
    const std::int64_t n = y * 365 + y / 4 - y / 100 + y / 400 + days[month - 1] + day - 1;
    return static_cast<std::uint64_t>(n * kTicksPerDay);
}

struct CivilDate {
    int year;
    int month;
    int day;
};

CivilDate DateFromTicks(std::uint64_t ticks) noexcept {
    int n = static_cast<int>(ticks / kTicksPerDay);
    const int y400 = n / kDaysPer400Years;
    n -= y400 * kDaysPer400Years;
    int y100 = n / kDaysPer100Years;
    if (y100 == 4) {
        y100 = 3;
    }
    n -= y100 * kDaysPer100Years;
    const int y4 = n / kDaysPer4Years;
    n -= y4 * kDaysPer4Years;
    int y1 = n / kDaysPerYear;
    if (y1 == 4) {
        y1 = 3;
    }
    n -= y1 * kDaysPerYear;
    const int year = y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1;
    const int* days = LeapYear(year) ? kDaysToMonth366 : kDaysToMonth365;
    int month = 1;
    while (n >= days[month]) {
        ++month;
    }
    return CivilDate{year, month, n - days[month - 1] + 1};
}

// UTF-16 to the platform's wide characters (UTF-32) and back, for wcsftime.
std::wstring ToWide(std::u16string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

std::u16string FromWide(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        auto c = static_cast<char32_t>(w);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(c > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(c));
        }
    }
    return out;
}

}  // namespace

TimeSpan TimeSpan::Add(TimeSpan other) const {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(ticks_, other.ticks_, &sum)) {
        throw OverflowException(LoadString(20499));
    }
    return TimeSpan(sum);
}

TimeSpan TimeSpan::Negate() const {
    if (ticks_ == INT64_MIN) {
        throw OverflowException(LoadString(20499));
    }
    return TimeSpan(-ticks_);
}

DateTime::DateTime(std::uint64_t ticks)
    : DateTime(CheckedTicks(ticks), DateTimeKind::Unspecified, Raw{}) {}

DateTime::DateTime(std::uint64_t ticks, DateTimeKind kind)
    : DateTime(CheckedTicks(ticks), kind, Raw{}) {
    CheckKind(kind);
}

DateTime::DateTime(int year, int month, int day, DateTimeKind kind)
    : DateTime(DateToTicks(year, month, day), kind, Raw{}) {
    CheckKind(kind);
}

DateTime::DateTime(int year, int month, int day, int hour, int minute, int second, int millisecond,
                   DateTimeKind kind) {
    std::uint64_t ticks = DateToTicks(year, month, day);
    if (hour < 0 || hour > 23) {
        throw ArgumentOutOfRangeException(u"hour");
    }
    if (minute < 0 || minute > 59) {
        throw ArgumentOutOfRangeException(u"minute");
    }
    if (second < 0 || second > 59) {
        throw ArgumentOutOfRangeException(u"second");
    }
    if (millisecond < 0 || millisecond > 1000) {
        throw ArgumentOutOfRangeException(u"millisecond");
    }
    CheckKind(kind);
    ticks += static_cast<std::uint64_t>(((hour * 60 + minute) * 60 + second) * kTicksPerSecond +
                                        millisecond * kTicksPerMillisecond);
    if (ticks > kMaxTicks) {
        throw ArgumentException(LoadString(20492));
    }
    *this = DateTime(ticks, kind, Raw{});
}

bool DateTime::IsLeapYear(int year) {
    if (year < 1 || year > 9999) {
        throw ArgumentOutOfRangeException(u"year");
    }
    return LeapYear(year);
}

int DateTime::DaysInMonth(int year, int month) {
    if (month < 1 || month > 12) {
        throw ArgumentOutOfRangeException(u"month", LoadString(20497));
    }
    const int* days = IsLeapYear(year) ? kDaysToMonth366 : kDaysToMonth365;
    return days[month] - days[month - 1];
}

int DateTime::Year() const noexcept {
    return DateFromTicks(Ticks()).year;
}
int DateTime::Month() const noexcept {
    return DateFromTicks(Ticks()).month;
}
int DateTime::Day() const noexcept {
    return DateFromTicks(Ticks()).day;
}
int DateTime::DayOfWeek() const noexcept {
    return static_cast<int>((Ticks() / kTicksPerDay + 1) % 7);
}
int DateTime::Hour() const noexcept {
    return static_cast<int>((Ticks() / kTicksPerHour) % 24);
}
int DateTime::Minute() const noexcept {
    return static_cast<int>((Ticks() / kTicksPerMinute) % 60);
}
int DateTime::Second() const noexcept {
    return static_cast<int>((Ticks() / kTicksPerSecond) % 60);
}
int DateTime::Millisecond() const noexcept {
    return static_cast<int>((Ticks() / kTicksPerMillisecond) % 1000);
}

DateTime DateTime::Date() const noexcept {
    return DateTime(Ticks() - Ticks() % kTicksPerDay, Kind(), Raw{});
}

DateTime DateTime::AddTicks(std::int64_t value) const {
    const auto ticks = static_cast<std::int64_t>(Ticks());
    if (value > static_cast<std::int64_t>(kMaxTicks) - ticks || value < -ticks) {
        throw ArgumentOutOfRangeException(u"ticks", LoadString(20493));
    }
    return DateTime(static_cast<std::uint64_t>(ticks + value), Kind(), Raw{});
}

DateTime DateTime::AddDays(double value) const {
    // NaN compares false and is refused along with the amounts beyond the whole range.
    const double millis = value * 86'400'000.0 + (value >= 0 ? 0.5 : -0.5);
    if (!(millis > -static_cast<double>(kMaxMillis) && millis < static_cast<double>(kMaxMillis))) {
        throw ArgumentOutOfRangeException(u"value", LoadString(20498));
    }
    return AddTicks(static_cast<std::int64_t>(millis) * kTicksPerMillisecond);
}

DateTime DateTime::operator+(TimeSpan span) const {
    const auto ticks = static_cast<std::int64_t>(Ticks());
    const std::int64_t value = span.Ticks();
    if (value > static_cast<std::int64_t>(kMaxTicks) - ticks || value < -ticks) {
        throw ArgumentException(LoadString(20493));
    }
    return DateTime(static_cast<std::uint64_t>(ticks + value), Kind(), Raw{});
}

DateTime DateTime::operator-(TimeSpan span) const {
    const auto ticks = static_cast<std::int64_t>(Ticks());
    const std::int64_t value = span.Ticks();
    if (value < ticks - static_cast<std::int64_t>(kMaxTicks) || value > ticks) {
        throw ArgumentException(LoadString(20493));
    }
    return DateTime(static_cast<std::uint64_t>(ticks - value), Kind(), Raw{});
}

TimeSpan DateTime::operator-(DateTime other) const noexcept {
    return TimeSpan(static_cast<std::int64_t>(Ticks()) - static_cast<std::int64_t>(other.Ticks()));
}

std::u16string DateTime::ToString(std::u16string_view format) const {
    if (format.empty()) {
        return {};
    }
    const CivilDate date = DateFromTicks(Ticks());
    std::tm tm{};
    tm.tm_year = date.year - 1900;
    tm.tm_mon = date.month - 1;
    tm.tm_mday = date.day;
    tm.tm_hour = Hour();
    tm.tm_min = Minute();
    tm.tm_sec = Second();
    tm.tm_wday = DayOfWeek();
    tm.tm_yday = 0;
    tm.tm_isdst = 0;
    // "%Y" always gives at least four digits, so that a card date stays eight digits long even
    // for a year below 1000 (the C library would print year 5 as "5").
    std::wstring wideFormat;
    const std::wstring raw = ToWide(format);
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == L'%' && i + 1 < raw.size() && raw[i + 1] == L'Y') {
            wchar_t year[8];
            std::swprintf(year, 8, L"%04d", date.year);
            wideFormat += year;
            ++i;
        } else if (raw[i] == L'%' && i + 1 < raw.size()) {
            wideFormat += raw.substr(i, 2);
            ++i;
        } else {
            wideFormat += raw[i];
        }
    }
    wchar_t buffer[256];
    const std::size_t n = std::wcsftime(buffer, 256, wideFormat.c_str(), &tm);
    return FromWide(std::wstring_view(buffer, n));
}

}  // namespace Orvel
