// The list of voluntary insurances of the ZK variable administrative block.
#pragma once

#include "carvix/blocks/tlv_element.h"
#include "carvix/support/datetime.h"

#include <string>
#include <vector>

/// One voluntary insurance. A new record holds two empty texts and a zero date.
struct VoluntaryInsuranceRecord {
    std::u16string Code;        ///< exactly 2 US-ASCII characters when encoded
    std::u16string PolicyCode;  ///< exactly 3 US-ASCII characters when encoded
    Orvel::DateTime ValidTo;    ///< stored as its calendar day, DDMMYYYY

    /// Dates compare by ticks, as DateTime does.
    bool operator==(const VoluntaryInsuranceRecord& other) const {
        return Code == other.Code && PolicyCode == other.PolicyCode && ValidTo == other.ValidTo;
    }
};

/// The records' 13-byte encodings one after another (Code, PolicyCode, ValidTo), with no
/// count and no separator; an empty list is a zero-length value.
class InsuranceListElement : public TlvElement {
  public:
    static constexpr std::size_t kRecordSize = 13;

    using TlvElement::TlvElement;
    ~InsuranceListElement() override;

    /// A copy of the list; fails when the element is optional and absent.
    std::vector<VoluntaryInsuranceRecord> GetValue() const;
    /// Stores the list unchecked (it is checked on encoding); makes the element present.
    void SetValue(std::vector<VoluntaryInsuranceRecord> value);
    void CopyFrom(const InsuranceListElement& other);

  protected:
    /// A Code that is not 2 characters fails with "Element with tag 0x%X has incorrect size
    /// for value Code on index %d", a PolicyCode that is not 3 with "... for value Policy
    /// Code on index %d"; non-ASCII text with "Non-translatable characters found in
    /// string".
    Orvel::ByteArray EncodeValue() const override;
    /// A length that is not a multiple of 13 fails with "Element with tag 0x%X has
    /// incorrect size of %d"; a failure leaves the previous list untouched.
    void DecodeValue(ByteView value) override;

  private:
    std::vector<VoluntaryInsuranceRecord> value_;
};
