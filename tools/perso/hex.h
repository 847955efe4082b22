// Hexadecimal text of bytes, as the card image format writes it.
#pragma once

#include "carvix/support/byte_array.h"

#include <span>
#include <stdexcept>
#include <string>

namespace carvix::perso {

/// Upper-case, no separators.
inline std::string ToHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0xF]);
    }
    return text;
}

/// Accepts either case and ignores spaces; throws std::invalid_argument otherwise.
inline Orvel::ByteArray FromHex(const std::string& text) {
    Orvel::ByteArray bytes;
    int high = -1;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c == ' ') {
            continue;
        } else {
            throw std::invalid_argument("not a hexadecimal digit: '" + std::string(1, c) + "'");
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) {
        throw std::invalid_argument("odd number of hexadecimal digits");
    }
    return bytes;
}

}  // namespace carvix::perso
