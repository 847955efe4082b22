// The one UTF-8 / UTF-16 codec. The lenient conversions serve internal text (messages, reader
// names, registry files, paths); the strict card code pages (codepage.h) build on the
// single-character steps and refuse what the lenient ones replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Orvel {

/// One character read from the start of a UTF-8 text: its code point and the bytes it takes.
/// `length` is 0 when the text does not start with a well-formed sequence (an overlong form,
/// an encoded surrogate, a value above U+10FFFF, a cut-off sequence or a stray continuation
/// byte) or is empty.
struct Utf8Char {
    char32_t codePoint = 0;
    std::size_t length = 0;
};
Utf8Char ReadUtf8(std::string_view text) noexcept;

/// One character read from `text` at `pos` (which must be inside it): a surrogate pair is
/// joined into one code point of length 2; a lone surrogate comes back as itself, length 1,
/// with `lone` set.
struct Utf16Char {
    char32_t codePoint = 0;
    std::size_t length = 0;
    bool lone = false;
};
Utf16Char ReadUtf16(std::u16string_view text, std::size_t pos) noexcept;

/// Appends the UTF-8 bytes of `codePoint` (at most U+10FFFF, no surrogate).
void AppendUtf8(std::string& out, char32_t codePoint);
/// Appends `codePoint` as one UTF-16 unit or a surrogate pair.
void AppendUtf16(std::u16string& out, char32_t codePoint);

/// Each byte that starts no well-formed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
/// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace Orvel
