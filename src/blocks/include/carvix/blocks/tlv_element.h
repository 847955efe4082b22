// One tag-length-value element of a card data block, and the contract every element kind
// follows.
#pragma once

#include "carvix/support/byte_array.h"

#include <cstdint>
#include <optional>
#include <span>

class CardBlock;

using ByteView = std::span<const std::uint8_t>;

/// Presence state of an element. The numbers are the ones the card tooling uses.
enum class Presence : std::uint8_t {
    Absent = 0,     ///< optional, not present
    Mandatory = 1,  ///< mandatory, for the element's whole life
    Present = 2,    ///< optional, present
};

/// Whether an element must be in its block; used when elements are declared.
enum class Requirement : std::uint8_t { Optional, Mandatory };

/// One element of a block: tag, largest accepted value length, presence, and a typed value
/// held by the concrete kind. An element that is a member of a block model registers
/// itself with the model when it is constructed; the model refers to it and owns nothing.
/// Elements are not copyable (the model keeps pointers to them); each kind offers CopyFrom.
///
/// Every failure is a CardException with code E_FAIL.
class TlvElement {
  public:
    /// A stand-alone element (a working element, or one that belongs to no block).
    TlvElement(std::uint16_t tag, std::uint32_t maxLength, Requirement requirement);
    /// A member of `owner`, appended to its element list (the encoding order).
    TlvElement(CardBlock& owner, std::uint16_t tag, std::uint32_t maxLength,
               Requirement requirement);
    virtual ~TlvElement();
    TlvElement(const TlvElement&) = delete;
    TlvElement& operator=(const TlvElement&) = delete;

    std::uint16_t Tag() const noexcept { return tag_; }
    std::uint32_t MaxLength() const noexcept { return maxLength_; }
    Presence State() const noexcept { return presence_; }

    /// The encoded value, or nothing when the element is optional and absent.
    virtual std::optional<Orvel::ByteArray> GetBytes() const;
    /// With bytes: decodes them (an absent element becomes present). Without: a mandatory
    /// element fails with "Mandatory element with tag 0x%04X not found in block", an
    /// optional one becomes absent.
    virtual void SetBytes(std::optional<ByteView> bytes);

    /// The element's value inside `block` (a whole block, header included), or nothing
    /// when the body has no element with this tag. The first occurrence wins. Fails when
    /// the value is longer than MaxLength() or when an element header or value met on the
    /// way runs past the end of the bytes; nothing past the end is ever read.
    std::optional<ByteView> FindIn(ByteView block) const;
    /// SetBytes(FindIn(block)).
    void DecodeFrom(ByteView block);
    /// The element as it stands in a block (header and value), or nothing when absent.
    std::optional<Orvel::ByteArray> EncodeToTlv() const;
    /// Appends EncodeToTlv() to `out`; returns false (and appends nothing) when absent.
    bool AppendTlvTo(Orvel::ByteArray& out) const;
    /// True when absent, false when present; a mandatory element fails with
    /// "Calling IsNull on mandatory value with tag %d".
    bool IsNull() const;

  protected:
    virtual Orvel::ByteArray EncodeValue() const = 0;
    /// Replaces the value; must leave the old value untouched when it throws.
    virtual void DecodeValue(ByteView value) = 0;

    /// Fails with "Referenced non-existent optional value with tag %d" when absent.
    void RequirePresent() const;
    /// A value was assigned: an absent element becomes present.
    void MarkAssigned() noexcept;
    /// Takes over tag, maximum length and presence of `other`.
    void CopyHeaderFrom(const TlvElement& other) noexcept;

  private:
    std::uint16_t tag_;
    std::uint32_t maxLength_;
    Presence presence_;
};
