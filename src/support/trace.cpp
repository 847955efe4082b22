#include "carvix/support/trace.h"

#include <utility>

namespace Orvel {
namespace {
TraceSink& Sink() {
    static TraceSink sink;
    return sink;
}
}  // namespace

void SetTraceSink(TraceSink sink) {
    Sink() = std::move(sink);
}

bool TraceEnabled() noexcept {
    return static_cast<bool>(Sink());
}

void Trace(TraceLevel level, std::u16string_view text) noexcept {
    try {
        if (auto& sink = Sink()) {
            sink(level, text);
        }
    } catch (...) {
        // A failing sink must never turn a diagnostic into a new failure.
    }
}

}  // namespace Orvel
