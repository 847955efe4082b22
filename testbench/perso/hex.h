// Hexadecimal text of bytes, as the card image format writes it.
#pragma once

#include "carvix/support/byte_array.h"
#include "carvix/support/hex.h"

#include <span>
#include <stdexcept>
#include <string>
#include <utility>

namespace carvix::perso {

/// Upper-case, no separators.
inline std::string ToHex(std::span<const std::uint8_t> bytes) {
    return Orvel::ToHex(bytes);
}

/// Accepts either case and ignores spaces; throws std::invalid_argument otherwise.
inline Orvel::ByteArray FromHex(const std::string& text) {
    Orvel::HexText hex = Orvel::ParseHex(text, " ", Orvel::HexSeparators::Anywhere);
    if (hex.fault == Orvel::HexFault::NotADigit) {
        throw std::invalid_argument("not a hexadecimal digit: '" + std::string(1, hex.offending) +
                                    "'");
    }
    if (hex.fault != Orvel::HexFault::None) {
        throw std::invalid_argument("odd number of hexadecimal digits");
    }
    return std::move(hex.bytes);
}

}  // namespace carvix::perso
