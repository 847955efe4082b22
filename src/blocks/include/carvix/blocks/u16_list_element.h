// An element whose value is a list of unsigned 16-bit numbers, little-endian.
#pragma once

#include "carvix/blocks/tlv_element.h"

#include <cstdint>
#include <vector>

class U16ListElement : public TlvElement {
  public:
    using TlvElement::TlvElement;
    ~U16ListElement() override;

    /// A copy of the list; fails when the element is optional and absent.
    std::vector<std::uint16_t> GetValue() const;
    void SetValue(std::vector<std::uint16_t> value);
    /// Whether the list holds `number` (false when absent).
    bool Contains(std::uint16_t number) const noexcept;
    void CopyFrom(const U16ListElement& other);

  protected:
    Orvel::ByteArray EncodeValue() const override;
    /// An odd length fails with "Element with tag 0x%X has incorrect size of %d".
    void DecodeValue(ByteView value) override;

  private:
    std::vector<std::uint16_t> value_;
};
