#include "carvix/support/hex.h"

namespace Orvel {
namespace {

int DigitValue(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string ToHex(std::span<const std::uint8_t> bytes, std::string_view separator) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * (2 + separator.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            text += separator;
        }
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

HexText ParseHex(std::string_view text, std::string_view separators, HexSeparators where) {
    HexText out;
    int high = -1;
    for (char c : text) {
        if (separators.find(c) != std::string_view::npos) {
            if (high >= 0 && where == HexSeparators::BetweenBytes) {
                out.fault = HexFault::SplitByte;
                return out;
            }
            continue;
        }
        const int digit = DigitValue(c);
        if (digit < 0) {
            out.fault = HexFault::NotADigit;
            out.offending = c;
            return out;
        }
        if (high < 0) {
            high = digit;
        } else {
            out.bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) {
        out.fault = HexFault::OddDigits;
    }
    return out;
}

}  // namespace Orvel
