#include "date_convert.h"

#include "carvix/automation/oleauto.h"
#include "carvix/support/exceptions.h"

#include <atomic>

namespace carvix::com {
namespace {

std::atomic<const Orvel::LocalTimeZone*> gZoneOverride{nullptr};

}  // namespace

std::optional<DATE> DateTimeToOleDate(const Orvel::DateTime& value,
                                      const Orvel::LocalTimeZone& zone) noexcept {
    try {
        const Orvel::SystemTime st = value.ToSystemTime(zone);
        const SYSTEMTIME sys{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                             st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
        DATE date = 0.0;
        SystemTimeToVariantTime(&sys, &date);  // every year from 1601 on is in range
        return date;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<Orvel::DateTime> OleDateToDateTime(DATE value,
                                                 const Orvel::LocalTimeZone& zone) noexcept {
    SYSTEMTIME sys{};
    if (VariantTimeToSystemTime(value, &sys) != 1) {
        return std::nullopt;
    }
    try {
        const Orvel::SystemTime st{sys.wYear, sys.wMonth,  sys.wDayOfWeek, sys.wDay,
                                   sys.wHour, sys.wMinute, sys.wSecond,    sys.wMilliseconds};
        return Orvel::DateTime(st, zone);
    } catch (...) {
        return std::nullopt;
    }
}

const Orvel::LocalTimeZone& BlockTimeZone() noexcept {
    const Orvel::LocalTimeZone* zone = gZoneOverride.load();
    return zone != nullptr ? *zone : Orvel::LocalTimeZone::Current();
}

ScopedBlockTimeZone::ScopedBlockTimeZone(const Orvel::LocalTimeZone& zone) noexcept
    : previous_(gZoneOverride.exchange(&zone)) {}

ScopedBlockTimeZone::~ScopedBlockTimeZone() {
    gZoneOverride.store(previous_);
}

}  // namespace carvix::com
