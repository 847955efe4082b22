// OLE automation DATE <-> SYSTEMTIME.
#include "carvix/automation/oleauto.h"

#include <cmath>

namespace {

constexpr double kMinDate = -657434.0;         // 0100-01-01 00:00:00
constexpr double kMaxDate = 2958465.99999999;  // 9999-12-31 23:59:59.999...

// Days since 1970-01-01 of a proleptic Gregorian date (a day past the month's length rolls
// over into the next month).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468 +
           (static_cast<std::int64_t>(d) - 1);
}

void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr std::int64_t kEpochDays = -25569;  // 1899-12-30 relative to 1970-01-01

}  // namespace

extern "C" {

std::int32_t SystemTimeToVariantTime(const SYSTEMTIME* st, double* pvtime) {
    if (st == nullptr || pvtime == nullptr) {
        return 0;
    }
    int year = st->wYear;
    if (year < 30) {  // two-digit years, as OLE reads them
        year += 2000;
    } else if (year < 100) {
        year += 1900;
    }
    if (year > 9999 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > 31 ||
        st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59) {
        return 0;
    }
    const std::int64_t days = DaysFromCivil(year, st->wMonth, st->wDay) - kEpochDays;
    // Milliseconds are ignored, as the OLE conversion does.
    const double time = (st->wHour * 3600.0 + st->wMinute * 60.0 + st->wSecond) / 86400.0;
    const double value =
        days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
    if (value < kMinDate || value > kMaxDate) {
        return 0;
    }
    *pvtime = value;
    return 1;
}

std::int32_t VariantTimeToSystemTime(double vtime, SYSTEMTIME* st) {
    if (st == nullptr || !(vtime >= kMinDate && vtime <= kMaxDate)) {
        return 0;
    }
    double whole = std::trunc(vtime);
    std::int64_t days = static_cast<std::int64_t>(whole);
    auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(vtime - whole) * 86400.0));
    // The fraction counts forward from midnight on both sides of the epoch (-1.25 is day -1
    // at 06:00), so a time that rounds up to 24:00 is the next calendar day either way.
    if (seconds >= 86400) {
        seconds -= 86400;
        days += 1;
    }
    int y;
    unsigned m, d;
    CivilFromDays(days + kEpochDays, y, m, d);
    if (y > 9999 || y < 100) {
        return 0;
    }
    st->wYear = static_cast<std::uint16_t>(y);
    st->wMonth = static_cast<std::uint16_t>(m);
    st->wDay = static_cast<std::uint16_t>(d);
    const std::int64_t civil = days + kEpochDays;  // 1970-01-01 was a Thursday
    st->wDayOfWeek = static_cast<std::uint16_t>(((civil % 7) + 11) % 7);
    st->wHour = static_cast<std::uint16_t>(seconds / 3600);
    st->wMinute = static_cast<std::uint16_t>(seconds / 60 % 60);
    st->wSecond = static_cast<std::uint16_t>(seconds % 60);
    st->wMilliseconds = 0;
    return 1;
}

}  // extern "C"
