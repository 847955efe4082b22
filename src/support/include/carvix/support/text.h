// Lenient conversions between UTF-8 and UTF-16 for internal text (messages, reader names,
// paths). The strict card code pages live in codepage.h.
#pragma once

#include <string>
#include <string_view>

namespace Orvel {

/// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
/// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

/// printf-style formatting of narrow arguments into UTF-16 (the format is ASCII or UTF-8).
std::u16string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Orvel
