// Reading a page's message as JSON with a bound on its nesting.
#pragma once

#include "values.h"

#include <string_view>

namespace carvix::bridge {

/// Objects and arrays nested deeper than this are not a request of ours: a request's own
/// levels plus the deepest argument values accepts.
inline constexpr int kMaxMessageDepth = kMaxNesting + 8;

/// The message parsed, or a discarded value when it is not JSON or nests deeper than
/// kMaxMessageDepth. Nothing deeper is ever built, so no later walk over the value (copy,
/// dump, conversion) can recurse without end.
Json ParseMessageJson(std::string_view text);

}  // namespace carvix::bridge
