// Text helpers for internal text (messages, reader names, paths): the lenient UTF-8 /
// UTF-16 conversions (unicode.h) and printf-style formatting. The strict card code pages
// live in codepage.h.
#pragma once

#include "carvix/support/unicode.h"

#include <string>

namespace Orvel {

/// printf-style formatting of narrow arguments into UTF-16 (the format is ASCII or UTF-8).
std::u16string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Orvel
