// Strict card text encodings. Nothing is replaced: a character the code page cannot hold, or
// input bytes it does not define, fail the conversion.
#include "carvix/support/codepage.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/last_error.h"
#include "carvix/support/text.h"
#include "carvix/support/unicode.h"

namespace Orvel::Text {
namespace {

[[noreturn]] void NonTranslatable() {
    throw CardException(u"Non-translatable characters found in string");
}

// The failed call's error code is also left as the thread's last error, as the platform does.
[[noreturn]] void TranslationFailed(std::uint32_t code) {
    SetLastError(code);
    throw CardException(Format("Error 0x%08X occured while translating string", code));
}

ByteArray EncodeUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf16Char c = ReadUtf16(text, i);
        if (c.lone) {
            // A lone surrogate is no character; refusing it keeps the card value faithful.
            NonTranslatable();
        }
        AppendUtf8(out, c.codePoint);
        i += c.length;
    }
    return ByteArray(out.begin(), out.end());
}

// Well-formed UTF-8 only: no overlong forms, no encoded surrogates, nothing above U+10FFFF,
// no truncated or stray continuation bytes.
std::u16string DecodeUtf8(std::span<const std::uint8_t> bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::u16string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const Utf8Char c = ReadUtf8(text);
        if (c.length == 0) {
            TranslationFailed(kErrorNoUnicodeTranslation);
        }
        AppendUtf16(out, c.codePoint);
        text.remove_prefix(c.length);
    }
    return out;
}

}  // namespace

ByteArray Encode(std::uint32_t codePage, std::u16string_view text) {
    ByteArray out;
    if (text.empty()) {
        return out;
    }
    switch (codePage) {
        case kUtf16Le:
            out.reserve(text.size() * 2);
            for (char16_t c : text) {
                out.push_back(static_cast<std::uint8_t>(c & 0xFF));
                out.push_back(static_cast<std::uint8_t>(c >> 8));
            }
            return out;
        case kUsAscii:
            out.reserve(text.size());
            for (char16_t c : text) {
                if (c > 0x7F) {
                    NonTranslatable();
                }
                out.push_back(static_cast<std::uint8_t>(c));
            }
            return out;
        case kUtf8:
            return EncodeUtf8(text);
        default:
            TranslationFailed(kErrorInvalidParameter);
    }
}

std::u16string Decode(std::uint32_t codePage, std::span<const std::uint8_t> bytes) {
    std::u16string out;
    if (bytes.empty()) {
        return out;
    }
    switch (codePage) {
        case kUtf16Le:
            out.reserve(bytes.size() / 2);
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
                out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
            }
            return out;
        case kUsAscii:
            out.reserve(bytes.size());
            for (std::uint8_t b : bytes) {
                if (b > 0x7F) {
                    TranslationFailed(kErrorNoUnicodeTranslation);
                }
                out.push_back(b);
            }
            return out;
        case kUtf8:
            return DecodeUtf8(bytes);
        default:
            TranslationFailed(kErrorInvalidParameter);
    }
}

}  // namespace Orvel::Text
