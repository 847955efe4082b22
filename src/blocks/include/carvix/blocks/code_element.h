// An element whose value is a number from a code table, stored as the table's code bytes.
#pragma once

#include "carvix/blocks/code_table.h"
#include "carvix/blocks/tlv_element.h"

class CodeElement : public TlvElement {
  public:
    CodeElement(std::uint16_t tag, std::uint32_t maxLength, Requirement requirement,
                const CodeTable& table);
    CodeElement(CardBlock& owner, std::uint16_t tag, std::uint32_t maxLength,
                Requirement requirement, const CodeTable& table);
    ~CodeElement() override;

    /// The number; fails when the element is optional and absent.
    std::int32_t GetValue() const;
    /// Stores the number unchecked; table membership is checked on encoding.
    void SetValue(std::int32_t value);
    /// Takes over tag, maximum length, value and presence; keeps this element's table.
    void CopyFrom(const CodeElement& other);
    const CodeTable& Table() const noexcept { return *table_; }

  protected:
    /// A number not in the table fails with "Number %d is not valid value for tag 0x%X".
    Orvel::ByteArray EncodeValue() const override;
    /// Bytes not in the table fail with "Element with tag 0x%X has invalid value".
    void DecodeValue(ByteView value) override;

  private:
    const CodeTable* table_;
    std::int32_t value_ = 0;
};
