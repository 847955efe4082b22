#include "date_convert.h"

#include "carvix/automation/oleauto.h"
#include "carvix/support/exceptions.h"

#include <atomic>

namespace carvix::com {
namespace {

std::atomic<const Orvel::LocalTimeZone*> gZoneOverride{nullptr};

/// The UTC instant of a stored value. A local time in the repeated hour of a daylight-saving
/// change is flagged LocalAmbiguousDst when it is the daylight pass; an unflagged one is the
/// standard pass and converts with the standard offset, so each of the two instants that
/// show the same wall-clock time converts back to itself.
Orvel::DateTime UniversalInstant(const Orvel::DateTime& value, const Orvel::LocalTimeZone& zone) {
    if (value.Kind() != Orvel::DateTimeKind::Local) {
        return value.Kind() == Orvel::DateTimeKind::LocalAmbiguousDst ? zone.LocalToUtc(value)
                                                                      : value;
    }
    const Orvel::DateTime utc = zone.LocalToUtc(value);
    const Orvel::DateTime back = zone.UtcToLocal(utc);
    if (back.Kind() != Orvel::DateTimeKind::LocalAmbiguousDst || back.Ticks() != value.Ticks()) {
        return utc;
    }
    const std::int64_t standard =
        static_cast<std::int64_t>(value.Ticks()) - zone.StandardOffset().Ticks();
    if (standard < 0 || standard > static_cast<std::int64_t>(Orvel::DateTime::kMaxTicks)) {
        return utc;
    }
    return Orvel::DateTime(static_cast<std::uint64_t>(standard), Orvel::DateTimeKind::Utc);
}

}  // namespace

std::optional<DATE> DateTimeToOleDate(const Orvel::DateTime& value,
                                      const Orvel::LocalTimeZone& zone) noexcept {
    try {
        const Orvel::SystemTime st = UniversalInstant(value, zone).ToSystemTime(zone);
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
