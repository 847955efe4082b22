// The optional process-wide diagnostic sink. Nothing is formatted when none is installed.
#pragma once

#include <functional>
#include <string_view>

namespace Orvel {

enum class TraceLevel { Error, Warning, Info, Trace };

using TraceSink = std::function<void(TraceLevel, std::u16string_view)>;

/// Installs (or, with an empty function, removes) the sink. Not for use while other threads trace.
void SetTraceSink(TraceSink sink);
bool TraceEnabled() noexcept;
void Trace(TraceLevel level, std::u16string_view text) noexcept;

}  // namespace Orvel
