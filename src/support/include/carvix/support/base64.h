// Base64 with the standard alphabet and "=" padding, as binary values cross the scripting
// boundary.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Orvel {

/// Padded Base64 without line breaks; empty input gives empty text.
std::u16string ToBase64(std::span<const std::uint8_t> bytes);

/// Decodes Base64 text. Carriage returns and line feeds are ignored wherever they stand; an
/// "=" inside the text decodes as zero bits. Raises Orvel::ArgumentException with string 20482
/// when the length is not a multiple of 4 and 20483 for any other character (white space
/// included) or more than two trailing "=".
ByteArray FromBase64(std::u16string_view text);

}  // namespace Orvel
