// The one hexadecimal codec: bytes as upper-case digit pairs, and text back to bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Orvel {

/// Upper-case digits, two a byte, with `separator` between bytes ("3B 80", "3B80").
std::string ToHex(std::span<const std::uint8_t> bytes, std::string_view separator = {});

/// Why hex text was refused; callers word the message for their users.
enum class HexFault { None, NotADigit, OddDigits, SplitByte };

struct HexText {
    std::vector<std::uint8_t> bytes;  // complete only when fault is None
    HexFault fault = HexFault::None;
    char offending = 0;  // the character that is no digit (NotADigit)
};

/// Where separators may stand: only between bytes, or anywhere (also between the two
/// digits of one byte, "A B" being 0xAB).
enum class HexSeparators { BetweenBytes, Anywhere };

/// Digits of either case; any character of `separators` is skipped where `where` allows it.
/// Stops at the first fault.
HexText ParseHex(std::string_view text, std::string_view separators, HexSeparators where);

}  // namespace Orvel
