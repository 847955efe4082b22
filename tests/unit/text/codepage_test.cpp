#include "carvix/support/codepage.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/hresult.h"
#include "carvix/support/last_error.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using Orvel::ByteArray;
namespace Text = Orvel::Text;

constexpr char16_t kNonTranslatable[] = u"Non-translatable characters found in string";
constexpr char16_t kInvalidInput[] = u"Error 0x00000459 occured while translating string";

// The message of the CardException thrown by `f` (E_FAIL checked), or "" if none was.
std::u16string CardError(const std::function<void()>& f) {
    try {
        f();
    } catch (const CardException& e) {
        EXPECT_EQ(e.Code(), Orvel::kE_FAIL);
        return e.Message();
    }
    return u"";
}

ByteArray Bytes(std::initializer_list<int> values) {
    ByteArray out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

TEST(CodePageUtf16, LittleEndianUnitsAndOddBytes) {
    EXPECT_EQ(Text::Encode(Text::kUtf16Le, u"é"), Bytes({0xE9, 0x00}));
    EXPECT_EQ(Text::Encode(Text::kUtf16Le, u"A\u20AC"), Bytes({0x41, 0x00, 0xAC, 0x20}));
    EXPECT_TRUE(Text::Encode(Text::kUtf16Le, u"").empty());
    EXPECT_EQ(Text::Decode(Text::kUtf16Le, Bytes({0x41, 0x00, 0x42, 0x00, 0x43})), u"AB");
    EXPECT_EQ(Text::Decode(Text::kUtf16Le, Bytes({0x41})), u"");
    // Every unit passes unchanged, surrogates included.
    const std::u16string odd = {u'\xD800', u'x', u'\xDFFF', u'\0', u'\xFFFF'};
    EXPECT_EQ(Text::Decode(Text::kUtf16Le, Text::Encode(Text::kUtf16Le, odd)), odd);
}

TEST(CodePageAscii, OnlySevenBitCharactersBothWays) {
    std::u16string all;
    ByteArray bytes;
    for (int c = 0; c < 0x80; ++c) {
        all.push_back(static_cast<char16_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    EXPECT_EQ(Text::Encode(Text::kUsAscii, all), bytes);
    EXPECT_EQ(Text::Decode(Text::kUsAscii, bytes), all);
    // No look-alikes: é is refused rather than written as e.
    for (const char16_t* text : {u"caf\u00E9", u"\u0080", u"\u00FF", u"A\u2013B", u"\U0001F600"}) {
        EXPECT_EQ(CardError([&] { Text::Encode(Text::kUsAscii, text); }), kNonTranslatable);
    }
    for (int b : {0x80, 0xA0, 0xE9, 0xFF}) {
        EXPECT_EQ(CardError([&] {
                      Text::Decode(Text::kUsAscii, Bytes({0x41, b}));
                  }),
                  kInvalidInput);
    }
    EXPECT_EQ(Orvel::GetLastError(), Text::kErrorNoUnicodeTranslation);
}

TEST(CodePageUtf8, WellFormedTextRoundTrips) {
    const std::u16string text = u"A\u00E9\u0416\u20AC\uFFFD\U0001F600\U0010FFFF";
    const ByteArray utf8 = Bytes({0x41, 0xC3, 0xA9, 0xD0, 0x96, 0xE2, 0x82, 0xAC, 0xEF, 0xBF, 0xBD,
                                  0xF0, 0x9F, 0x98, 0x80, 0xF4, 0x8F, 0xBF, 0xBF});
    EXPECT_EQ(Text::Encode(Text::kUtf8, text), utf8);
    EXPECT_EQ(Text::Decode(Text::kUtf8, utf8), text);
    EXPECT_EQ(Text::Decode(Text::kUtf8, Bytes({0x00, 0x7F})), std::u16string(u"\0\x7F", 2));
    EXPECT_TRUE(Text::Decode(Text::kUtf8, ByteArray{}).empty());
}

TEST(CodePageUtf8, InvalidSequencesAreRefused) {
    const std::vector<ByteArray> invalid = {
        Bytes({0x80}),                    // stray continuation byte
        Bytes({0xC3}),                    // truncated
        Bytes({0xE2, 0x82}),              // truncated
        Bytes({0xC3, 0x41}),              // continuation missing
        Bytes({0xC0, 0x80}),              // overlong NUL
        Bytes({0xC1, 0xBF}),              // overlong
        Bytes({0xE0, 0x80, 0xAF}),        // overlong
        Bytes({0xF0, 0x80, 0x80, 0xAF}),  // overlong
        Bytes({0xED, 0xA0, 0x80}),        // encoded surrogate
        Bytes({0xED, 0xBF, 0xBF}),        // encoded surrogate
        Bytes({0xF4, 0x90, 0x80, 0x80}),  // above U+10FFFF
        Bytes({0xF5, 0x80, 0x80, 0x80}),
        Bytes({0xFE}),
        Bytes({0xFF}),
        Bytes({0x41, 0x42, 0xE9, 0x43}),  // Latin-1 text is not UTF-8
    };
    for (const ByteArray& bytes : invalid) {
        EXPECT_EQ(CardError([&] { Text::Decode(Text::kUtf8, bytes); }), kInvalidInput)
            << testing::PrintToString(bytes);
    }
    // A lone surrogate is no character and is refused rather than replaced.
    for (const std::u16string& text : {std::u16string(u"a\xD800"), std::u16string(u"\xDC00z"),
                                       std::u16string(u"\xDC00\xD800")}) {
        EXPECT_EQ(CardError([&] { Text::Encode(Text::kUtf8, text); }), kNonTranslatable);
    }
}

TEST(CodePageOther, UnknownCodePagesFailTheTranslation) {
    constexpr char16_t kBadCodePage[] = u"Error 0x00000057 occured while translating string";
    EXPECT_EQ(CardError([] { Text::Encode(1252, u"abc"); }), kBadCodePage);
    EXPECT_EQ(CardError([] { Text::Decode(437, Bytes({0x41})); }), kBadCodePage);
    // Empty values need no conversion, in any code page.
    EXPECT_TRUE(Text::Encode(1252, u"").empty());
    EXPECT_TRUE(Text::Decode(1252, ByteArray{}).empty());
}

}  // namespace
