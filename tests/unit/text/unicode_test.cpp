// The lenient UTF-8 / UTF-16 conversions: what is replaced, byte by byte, and what is kept.
#include "carvix/support/unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Orvel::Utf16ToUtf8;
using Orvel::Utf8ToUtf16;

TEST(LenientUtf8, EveryLengthRoundTrips) {
    const std::u16string text = u"A\u00E9\u20AC\U0001F600";  // 1, 2, 3 and 4 bytes
    EXPECT_EQ(Utf16ToUtf8(text), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
}

TEST(LenientUtf8, EachByteOfABadSequenceBecomesOneReplacement) {
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");                      // overlong NUL
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // > U+10FFFF
    EXPECT_EQ(Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD\uFFFD");                    // cut off at the end
    EXPECT_EQ(Utf8ToUtf16("\x80z"), u"\uFFFDz");  // stray continuation byte
    EXPECT_EQ(Utf8ToUtf16("\xC3z"), u"\uFFFDz");  // lead without continuation
    EXPECT_EQ(Utf8ToUtf16(std::string("\0x", 2)), std::u16string(u"\0x", 2));
}

TEST(LenientUtf8, LoneSurrogatesBecomeReplacementsPairsAreJoined) {
    EXPECT_EQ(Utf16ToUtf8(u"\xD83D"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, 0xDE00, u'x'}), "\xF0\x9F\x98\x80x");
}

TEST(Utf8Steps, ReadOneCharacterAtATime) {
    EXPECT_EQ(Orvel::ReadUtf8("\xE2\x82\xAC!").codePoint, 0x20ACu);
    EXPECT_EQ(Orvel::ReadUtf8("\xE2\x82\xAC!").length, 3u);
    EXPECT_EQ(Orvel::ReadUtf8("").length, 0u);
    EXPECT_EQ(Orvel::ReadUtf8("\xF5\x80\x80\x80").length, 0u);
    const Orvel::Utf16Char lone = Orvel::ReadUtf16(u"\xDC00", 0);
    EXPECT_TRUE(lone.lone);
    EXPECT_EQ(lone.length, 1u);
}

}  // namespace
