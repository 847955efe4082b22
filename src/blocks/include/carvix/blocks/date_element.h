// An element whose value is a calendar day, stored as the 8 ASCII digits DDMMYYYY.
#pragma once

#include "carvix/blocks/tlv_element.h"
#include "carvix/support/datetime.h"

/// Always at most 8 bytes. The time of day is not stored; a decoded date is 00:00 UTC.
class DateElement : public TlvElement {
  public:
    static constexpr std::uint32_t kLength = 8;

    DateElement(std::uint16_t tag, Requirement requirement);
    DateElement(CardBlock& owner, std::uint16_t tag, Requirement requirement);
    ~DateElement() override;

    /// The date; fails when the element is optional and absent.
    Orvel::DateTime GetValue() const;
    void SetValue(Orvel::DateTime value);
    /// Takes over tag, maximum length, value and presence.
    void CopyFrom(const DateElement& other);

    /// The calendar day of `value` as DDMMYYYY (no time-zone conversion).
    static Orvel::ByteArray EncodeDate(const Orvel::DateTime& value);
    /// DDMMYYYY to 00:00 of that day, kind Utc. Fails with "Date element has incorrect size
    /// of %d" unless there are 8 bytes, with "Date element has incorrect format" when the
    /// three numbers cannot be read, and with the DateTime range error (an
    /// Orvel::ArgumentOutOfRangeException naming "year", "month" or "day") when they are
    /// no calendar date.
    static Orvel::DateTime DecodeDate(ByteView bytes);

  protected:
    Orvel::ByteArray EncodeValue() const override;
    void DecodeValue(ByteView value) override;

  private:
    Orvel::DateTime value_;
};
