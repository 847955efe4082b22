// Strict conversions between UTF-16 text and the byte encodings of card text fields:
// US-ASCII (20127), UTF-16 little-endian (1200) and UTF-8 (65001).
//
// Both directions raise CardException (code E_FAIL):
// - "Non-translatable characters found in string" when text holds a character the code
//   page cannot represent (nothing is replaced by a look-alike);
// - "Error 0x%08X occured while translating string" when the conversion itself fails:
//   invalid input bytes give kErrorNoUnicodeTranslation, an unknown code page
//   kErrorInvalidParameter.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Orvel::Text {

inline constexpr std::uint32_t kUsAscii = 20127;
inline constexpr std::uint32_t kUtf16Le = 1200;
inline constexpr std::uint32_t kUtf8 = 65001;

/// Error code of a failed translation: input that the code page does not define.
inline constexpr std::uint32_t kErrorNoUnicodeTranslation = 0x459;
/// Error code of a failed translation: a code page other than the three above.
inline constexpr std::uint32_t kErrorInvalidParameter = 0x57;

/// The text in the code page, without terminator or byte-order mark.
Orvel::ByteArray Encode(std::uint32_t codePage, std::u16string_view text);
/// The text of the bytes. For 1200 an odd last byte is ignored.
std::u16string Decode(std::uint32_t codePage, std::span<const std::uint8_t> bytes);

}  // namespace Orvel::Text
