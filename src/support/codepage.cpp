// Strict card text encodings. Nothing is replaced: a character the code page cannot hold, or
// input bytes it does not define, fail the conversion.
#include "carvix/support/codepage.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/last_error.h"
#include "carvix/support/text.h"

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

bool IsHighSurrogate(char16_t c) noexcept {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) noexcept {
    return c >= 0xDC00 && c <= 0xDFFF;
}

ByteArray EncodeUtf8(std::u16string_view text) {
    ByteArray out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            // A lone surrogate is no character; refusing it keeps the card value faithful.
            NonTranslatable();
        }
        if (cp < 0x80) {
            out.push_back(static_cast<std::uint8_t>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<std::uint8_t>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<std::uint8_t>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<std::uint8_t>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// Well-formed UTF-8 only: no overlong forms, no encoded surrogates, nothing above U+10FFFF,
// no truncated or stray continuation bytes.
std::u16string DecodeUtf8(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        std::size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07, min = 0x10000;
        } else {
            TranslationFailed(kErrorNoUnicodeTranslation);
        }
        if (bytes.size() - i < len) {
            TranslationFailed(kErrorNoUnicodeTranslation);
        }
        for (std::size_t k = 1; k < len; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                TranslationFailed(kErrorNoUnicodeTranslation);
            }
            cp = (cp << 6) | (bytes[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            TranslationFailed(kErrorNoUnicodeTranslation);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
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
