// The SOD of the contactless part: one element holding a DER PKCS#7 SignedData message whose
// content is the SHA-256 digest of the complete bytes of file 1 (the encoded extract).
#pragma once

#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/card_block.h"

/// Block 0x0D06 with element 0x660 of at most 700 bytes. It shares ID and tag with the
/// contact card's SOD but is smaller, and is used only for the contactless part.
class ContactlessSodBlock final : public CardBlock {
  public:
    static constexpr std::uint16_t kBlockId = 0x0D06;
    ContactlessSodBlock() : CardBlock(kBlockId) {}
    BytesElement Sod{*this, 0x660, 700, kMandatory};
};
