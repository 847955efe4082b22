// An element whose value is text, stored in one of the card's code pages.
#pragma once

#include "carvix/blocks/tlv_element.h"
#include "carvix/support/codepage.h"

#include <cstdint>
#include <string>
#include <string_view>

/// The code pages of card text, for element declarations.
namespace CodePage {
inline constexpr std::uint32_t Ascii = Orvel::Text::kUsAscii;  // 20127
inline constexpr std::uint32_t Utf16 = Orvel::Text::kUtf16Le;  // 1200
inline constexpr std::uint32_t Utf8 = Orvel::Text::kUtf8;      // 65001
}  // namespace CodePage

/// Text in US-ASCII (20127, strict: U+0000 to U+007F only), UTF-16 little-endian (1200) or
/// UTF-8 (65001), with no terminator and no byte-order mark. The maximum length counts
/// bytes of the encoded text, so a UTF-16 element of 100 bytes holds 50 code units.
class StringElement : public TlvElement {
  public:
    StringElement(std::uint16_t tag, std::uint32_t maxLength, Requirement requirement,
                  std::uint32_t codePage);
    StringElement(CardBlock& owner, std::uint16_t tag, std::uint32_t maxLength,
                  Requirement requirement, std::uint32_t codePage);
    ~StringElement() override;

    /// A copy of the text; fails when the element is optional and absent.
    std::u16string GetValue() const;
    /// Stores the text unchecked; length and character set are checked on encoding.
    void SetValue(std::u16string value);
    /// Takes over tag, maximum length, value, presence and code page.
    void CopyFrom(const StringElement& other);
    std::uint32_t CodePage() const noexcept { return codePage_; }

    /// Text to value bytes in `codePage`. A character the code page cannot hold fails with
    /// "Non-translatable characters found in string".
    static Orvel::ByteArray EncodeText(std::uint32_t codePage, std::u16string_view text);
    /// Value bytes to text. In UTF-16 an odd last byte is ignored; bytes that the code page
    /// does not define fail with "Error 0x%08X occured while translating string".
    static std::u16string DecodeText(std::uint32_t codePage, ByteView bytes);

  protected:
    Orvel::ByteArray EncodeValue() const override;
    void DecodeValue(ByteView value) override;

  private:
    std::uint32_t codePage_;
    std::u16string value_;
};
