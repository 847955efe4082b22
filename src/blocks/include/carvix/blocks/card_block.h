// A card data block: a 4-byte header (tag, body length; little-endian) followed by a flat
// sequence of tag-length-value elements.
#pragma once

#include "carvix/blocks/tlv_element.h"

#include <cstdint>
#include <span>
#include <vector>

/// Base of every block model. A concrete model declares its elements as members, each
/// constructed with the model as owner, so the element list follows the declaration order;
/// that order is the encoding order. Models are neither copyable nor movable.
///
/// Typical use by the card layer:
///     VLDocumentModel model;
///     model.Decode(rawBlock);              // raw bytes as read from the card file
///     std::u16string id = model.CardID.GetValue();
///     ...
///     Orvel::ByteArray bytes = model.Encode();
///
/// Every failure is a CardException with code E_FAIL.
class CardBlock {
  public:
    /// Short names for the element tables of the concrete models.
    static constexpr Requirement kOptional = Requirement::Optional;
    static constexpr Requirement kMandatory = Requirement::Mandatory;

    explicit CardBlock(std::uint16_t tag) noexcept;
    virtual ~CardBlock();
    CardBlock(const CardBlock&) = delete;
    CardBlock& operator=(const CardBlock&) = delete;

    std::uint16_t Tag() const noexcept { return tag_; }
    std::span<TlvElement* const> Elements() const noexcept { return elements_; }

    /// Fills every element from the block bytes. Checks, in order: at least the header,
    /// the block tag, the declared body length, that every element lies inside the body;
    /// then decodes each element in list order. On failure the elements already filled
    /// keep their new values.
    void Decode(ByteView bytes);
    /// The block bytes: header, then each present element in list order.
    Orvel::ByteArray Encode() const;

    /// Walks the element headers of a block body and fails with a clear message when one
    /// of them, or its value, does not lie inside `block`. Decode calls it before any
    /// element is decoded.
    static void CheckElementBounds(ByteView block);

  private:
    friend class TlvElement;
    void Register(TlvElement* element) { elements_.push_back(element); }

    std::uint16_t tag_;
    std::vector<TlvElement*> elements_;
};
