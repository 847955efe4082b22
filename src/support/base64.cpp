#include "carvix/support/base64.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/string_table.h"

#include <array>

namespace Orvel {
namespace {

constexpr char16_t kAlphabet[] =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Sextet of each character; -1 for characters outside the alphabet. "=" counts as zero bits.
constexpr std::array<int, 128> MakeDecodeTable() {
    std::array<int, 128> table{};
    for (int& v : table) {
        v = -1;
    }
    for (int i = 0; i < 64; ++i) {
        table[kAlphabet[i]] = i;
    }
    table['='] = 0;
    return table;
}

constexpr std::array<int, 128> kDecode = MakeDecodeTable();

}  // namespace

std::u16string ToBase64(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        if (n > 1) {
            v |= std::uint32_t{bytes[i + 1]} << 8;
        }
        if (n > 2) {
            v |= bytes[i + 2];
        }
        out.push_back(kAlphabet[(v >> 18) & 0x3F]);
        out.push_back(kAlphabet[(v >> 12) & 0x3F]);
        out.push_back(n > 1 ? kAlphabet[(v >> 6) & 0x3F] : u'=');
        out.push_back(n > 2 ? kAlphabet[v & 0x3F] : u'=');
    }
    return out;
}

ByteArray FromBase64(std::u16string_view text) {
    std::u16string clean;
    clean.reserve(text.size());
    for (char16_t c : text) {
        if (c != u'\r' && c != u'\n') {
            clean.push_back(c);
        }
    }
    if (clean.empty()) {
        return {};
    }
    if (clean.size() % 4 != 0) {
        throw ArgumentException(LoadString(20482));
    }
    std::size_t padding = 0;
    while (padding < clean.size() && clean[clean.size() - 1 - padding] == u'=') {
        ++padding;
    }
    if (padding > 2) {
        throw ArgumentException(LoadString(20483));
    }
    const std::size_t outSize = (clean.size() - padding) * 6 / 8;
    ByteArray out;
    out.reserve(outSize);
    for (std::size_t i = 0; i < clean.size(); i += 4) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char16_t c = clean[i + k];
            const int sextet = c < 128 ? kDecode[c] : -1;
            if (sextet < 0) {
                throw ArgumentException(LoadString(20483));
            }
            v = (v << 6) | static_cast<std::uint32_t>(sextet);
        }
        for (int shift = 16; shift >= 0 && out.size() < outSize; shift -= 8) {
            out.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
    return out;
}

}  // namespace Orvel
