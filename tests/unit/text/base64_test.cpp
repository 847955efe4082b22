#include "carvix/support/base64.h"
#include "carvix/support/exceptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

namespace {

using Orvel::ByteArray;
using Orvel::FromBase64;
using Orvel::ToBase64;

constexpr char16_t kBadLength[] = u"Invalid length for a Base-64 string.";
constexpr char16_t kBadChar[] = u"Invalid character in a Base-64 string.";

std::u16string DecodeError(const std::u16string& text) {
    try {
        FromBase64(text);
    } catch (const Orvel::ArgumentException& e) {
        EXPECT_TRUE(e.ParamName().empty());
        return e.Message();
    }
    return u"";
}

ByteArray Ascii(const char* s) {
    return ByteArray(s, s + std::char_traits<char>::length(s));
}

TEST(Base64Encode, PaddingOfTheLastGroup) {
    EXPECT_EQ(ToBase64(Ascii("abc")), u"YWJj");
    EXPECT_EQ(ToBase64(Ascii("ab")), u"YWI=");
    EXPECT_EQ(ToBase64(Ascii("a")), u"YQ==");
    EXPECT_EQ(ToBase64(ByteArray{}), u"");
    EXPECT_EQ(ToBase64(ByteArray{0xFB, 0xFF, 0xBF}), u"+/+/");
    EXPECT_EQ(ToBase64(ByteArray{0, 0, 0}), u"AAAA");
    // No line breaks, however long.
    EXPECT_EQ(ToBase64(ByteArray(3000, 0x55)).find_first_of(u"\r\n"), std::u16string::npos);
}

TEST(Base64Decode, TheTableOfQuirks) {
    EXPECT_EQ(FromBase64(u"YWJj\r\nYWJj"), Ascii("abcabc"));
    EXPECT_EQ(DecodeError(u"YWJj YWJj"), kBadLength);
    EXPECT_EQ(DecodeError(u"YWJj YWJ"), kBadChar);
    EXPECT_EQ(DecodeError(u"YWJj\tYWJ"), kBadChar);
    EXPECT_EQ(FromBase64(u"YQ=="), Ascii("a"));
    EXPECT_EQ(FromBase64(u"YWI="), Ascii("ab"));
    EXPECT_EQ(DecodeError(u"Y==="), kBadChar);
    EXPECT_EQ(DecodeError(u"===="), kBadChar);
    EXPECT_EQ(DecodeError(u"YQ="), kBadLength);
    // An "=" inside the text is six zero bits; only trailing ones shorten the output.
    EXPECT_EQ(FromBase64(u"YQ=A"), (ByteArray{0x61, 0x00, 0x00}));
    EXPECT_EQ(FromBase64(u"YQ==YWJj"), (ByteArray{0x61, 0x00, 0x00, 0x61, 0x62, 0x63}));
    // Line breaks anywhere, even inside a group or as the whole text.
    EXPECT_EQ(FromBase64(u"Y\rW\nJ\r\nj\n"), Ascii("abc"));
    EXPECT_EQ(FromBase64(u"\r\n\r\n"), ByteArray{});
    EXPECT_EQ(FromBase64(u""), ByteArray{});
    EXPECT_EQ(DecodeError(u"YW-j"), kBadChar);
    EXPECT_EQ(DecodeError(u"YW_j"), kBadChar);
    EXPECT_EQ(DecodeError(u"YW\u00C0j"), kBadChar);
    EXPECT_EQ(DecodeError(std::u16string(u"YW\0j", 4)), kBadChar);
    EXPECT_EQ(DecodeError(u"YW\U0001F600"), kBadChar);  // a surrogate pair, four units in all
}

TEST(Base64Decode, CertificateTextWithLineBreaks) {
    std::mt19937 rng(7);
    ByteArray der(1337);
    for (auto& b : der) {
        b = static_cast<std::uint8_t>(rng());
    }
    const std::u16string flat = ToBase64(der);
    for (const char16_t* eol : {u"\n", u"\r\n"}) {
        std::u16string wrapped;
        for (std::size_t i = 0; i < flat.size(); i += 64) {
            wrapped += flat.substr(i, 64) + eol;
        }
        EXPECT_EQ(FromBase64(wrapped), der);
    }
}

TEST(Base64RoundTrip, EveryLengthAndByteValue) {
    for (std::size_t n = 0; n < 300; ++n) {
        ByteArray bytes(n);
        for (std::size_t i = 0; i < n; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 37 + n);
        }
        const std::u16string text = ToBase64(bytes);
        ASSERT_EQ(text.size(), (n + 2) / 3 * 4);
        ASSERT_EQ(FromBase64(text), bytes) << n;
    }
}

}  // namespace
