// The conversions between the DateTime a block object stores and the OLE DATE a script sees.
#pragma once

#include "carvix/automation/types.h"
#include "carvix/support/datetime.h"
#include "carvix/support/time_zone.h"

#include <optional>

namespace carvix::com {

/// The value as a DATE of its UTC instant: Local values are converted to UTC through `zone`,
/// Utc and Unspecified ticks are taken as UTC. Nothing for a value before 1601-01-01 00:00 UTC
/// (or any other failure of the conversion).
std::optional<DATE> DateTimeToOleDate(const Orvel::DateTime& value,
                                      const Orvel::LocalTimeZone& zone) noexcept;

/// A script's DATE, taken as UTC, as local time in `zone` (kind Local, or LocalAmbiguousDst in
/// a repeated hour). Nothing when the DATE is no valid date. A DATE before 1601 becomes
/// 1601-01-01 00:00 UTC, as the platform conversion leaves it.
std::optional<Orvel::DateTime> OleDateToDateTime(DATE value,
                                                 const Orvel::LocalTimeZone& zone) noexcept;

/// The zone the block objects convert through: the process snapshot, unless a test has put
/// another in place.
const Orvel::LocalTimeZone& BlockTimeZone() noexcept;

/// For tests: makes the block objects convert through `zone` while the object lives.
class ScopedBlockTimeZone {
  public:
    explicit ScopedBlockTimeZone(const Orvel::LocalTimeZone& zone) noexcept;
    ~ScopedBlockTimeZone();
    ScopedBlockTimeZone(const ScopedBlockTimeZone&) = delete;
    ScopedBlockTimeZone& operator=(const ScopedBlockTimeZone&) = delete;

  private:
    const Orvel::LocalTimeZone* previous_;
};

}  // namespace carvix::com
