// The block model of a security object: one mandatory element holding a DER PKCS#7
// SignedData message whose content is the SHA-256 hashes of the covered blocks.
#pragma once

#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/card_block.h"

#include <cstdint>

/// Made only through `SodRegistry::CreateSodBlock`, for a SOD ID the registry knows:
/// 0x0D05 (element 0x0650, up to 2560 bytes), 0x0D06 (0x0660, 2400), 0x0D09 (0x0690, 2400).
class SodBlock final : public CardBlock {
  public:
    ~SodBlock() override;

    /// The signed message.
    BytesElement& Message() noexcept { return message_; }
    const BytesElement& Message() const noexcept { return message_; }

    static std::uint16_t ElementTagOf(std::uint16_t sodId) noexcept;
    static std::uint32_t MaxLengthOf(std::uint16_t sodId) noexcept;

  private:
    friend class SodRegistry;
    explicit SodBlock(std::uint16_t sodId);

    BytesElement message_;
};
