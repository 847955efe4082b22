// An element whose value is raw bytes, stored as given.
#pragma once

#include "carvix/blocks/tlv_element.h"

class BytesElement : public TlvElement {
  public:
    using TlvElement::TlvElement;
    ~BytesElement() override;

    /// A copy of the bytes; fails when the element is optional and absent.
    Orvel::ByteArray GetValue() const;
    void SetValue(Orvel::ByteArray value);
    void CopyFrom(const BytesElement& other);

  protected:
    Orvel::ByteArray EncodeValue() const override;
    void DecodeValue(ByteView value) override;

  private:
    Orvel::ByteArray value_;
};
