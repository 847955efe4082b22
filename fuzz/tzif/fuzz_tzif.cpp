// Time-zone data from a file is untrusted input: TZif parsing, POSIX rule parsing and the
// conversions through whatever rules come out must neither crash nor loop.
#include "carvix/support/datetime.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/time_zone.h"

#include <cstdint>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto rules = Orvel::TimeZoneRulesFromTzif(std::span(data, size));
    if (!rules) {
        rules =
            Orvel::ParsePosixTimeZone(std::string_view(reinterpret_cast<const char*>(data), size));
    }
    if (!rules) {
        return 0;
    }
    const Orvel::LocalTimeZone zone(*rules);
    for (std::uint64_t ticks :
         {std::uint64_t{0}, std::uint64_t{638'000'000'000'000'000}, Orvel::DateTime::kMaxTicks}) {
        for (auto kind : {Orvel::DateTimeKind::Utc, Orvel::DateTimeKind::Local}) {
            const Orvel::DateTime value(ticks, kind);
            (void)value.ToLocalTime(zone);
            (void)value.ToUniversalTime(zone);
        }
    }
    return 0;
}
